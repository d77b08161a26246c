// Framing the stream's frames, and cutting the encoder's output into pieces.
#include "serve/frames.h"

#include <cstring>
#include <utility>

namespace companion {

Buffer frame(char kind, const void* payload, std::uint32_t size) {
  std::string bytes(5 + size, '\0');
  bytes[0] = kind;
  for (int k = 0; k < 4; ++k) bytes[1 + k] = static_cast<char>(size >> (8 * k));
  if (size > 0) std::memcpy(&bytes[5], payload, size);
  return std::make_shared<const std::string>(std::move(bytes));
}

Buffer runFrame(std::uint32_t run) {
  unsigned char id[4];
  for (int k = 0; k < 4; ++k) id[k] = static_cast<unsigned char>(run >> (8 * k));
  return frame(RUN_FRAME, id, 4);
}

Buffer heartbeatFrame(double seconds) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &seconds, sizeof bits);
  unsigned char value[8];
  for (int k = 0; k < 8; ++k) value[k] = static_cast<unsigned char>(bits >> (8 * k));
  return frame(HEARTBEAT_FRAME, value, 8);
}

void PieceEncoder::add(const StepData& step, std::vector<Piece>& done) {
  out_.clear();
  encoder_.add(step, out_);
  cut(done, true);
}

void PieceEncoder::flush(std::vector<Piece>& done) {
  out_.clear();
  encoder_.flush(out_);
  cut(done, false);
}

void PieceEncoder::cut(std::vector<Piece>& done, bool stepAdded) {
  bool newMesh = false;
  for (std::size_t at = 0; at < out_.size(); at += 5 + chunkSize(at)) {
    newMesh = newMesh || out_[at] == static_cast<char>(MESH_CHUNK);
  }
  if (stepAdded && !newMesh) ++open_;
  for (std::size_t at = 0; at < out_.size(); at += 5 + chunkSize(at)) {
    Buffer chunk = std::make_shared<const std::string>(out_, at, 5 + chunkSize(at));
    if (out_[at] == static_cast<char>(MESH_CHUNK)) {
      mesh_ = std::move(chunk);
      if (stepAdded) ++open_;
    } else {
      done.push_back({first_, open_, mesh_, std::move(chunk)});
      first_ += open_;
      open_ = 0;
    }
  }
}

std::size_t PieceEncoder::chunkSize(std::size_t at) const {
  std::uint32_t size = 0;
  for (int k = 0; k < 4; ++k) {
    size |= static_cast<std::uint32_t>(static_cast<unsigned char>(out_[at + 1 + k])) << (8 * k);
  }
  return size;
}

}  // namespace companion
