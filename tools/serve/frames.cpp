// The stream's frames, and the encoder's chunks taken as pieces.
#include "serve/frames.h"

#include <cstring>
#include <utility>

namespace companion {

Buffer frame(unsigned char kind, std::string_view payload) {
  std::string bytes;
  bytes.reserve(FRAME_HEADER_BYTES + payload.size());
  appendFrame(bytes, kind, payload);
  return std::make_shared<const std::string>(std::move(bytes));
}

Buffer runFrame(std::uint32_t run) {
  char id[4];
  for (int k = 0; k < 4; ++k) id[k] = static_cast<char>(run >> (8 * k));
  return frame(RUN_FRAME, std::string_view(id, sizeof id));
}

Buffer heartbeatFrame(double seconds) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &seconds, sizeof bits);
  char value[8];
  for (int k = 0; k < 8; ++k) value[k] = static_cast<char>(bits >> (8 * k));
  return frame(HEARTBEAT_FRAME, std::string_view(value, sizeof value));
}

void PieceEncoder::add(const StepData& step, std::vector<Piece>& done) {
  encoder_.add(step, [this, &done](const Chunk& chunk) { take(chunk, done); });
}

void PieceEncoder::flush(std::vector<Piece>& done) {
  encoder_.flush([this, &done](const Chunk& chunk) { take(chunk, done); });
}

void PieceEncoder::take(const Chunk& chunk, std::vector<Piece>& done) {
  Buffer framed = frame(chunk.kind, chunk.payload);
  if (chunk.kind == MESH_CHUNK) {
    mesh_ = std::move(framed);
  } else {
    done.push_back({chunk.first, chunk.count, mesh_, std::move(framed)});
  }
}

}  // namespace companion
