// The stream's frames (docs/stream-format.md), and the run's chunks as pieces that know the steps
// they hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "player/encoding.h"

namespace companion {

// The stream's own frames beside the run's chunks ('M', 'S'): a run begins, it ends, a heartbeat.
inline constexpr unsigned char RUN_FRAME = 'R', END_FRAME = 'E', HEARTBEAT_FRAME = 'H';

// A frame, made once and queued by every client that is sent it.
using Buffer = std::shared_ptr<const std::string>;

Buffer frame(unsigned char kind, std::string_view payload);
Buffer runFrame(std::uint32_t run);
Buffer heartbeatFrame(double seconds);

// A steps chunk of the run with the steps it holds and the mesh they are drawn with.
struct Piece {
  long first = 0;
  long count = 0;
  Buffer mesh;
  Buffer chunk;
};

// A RunEncoder whose chunks come out framed, the steps chunks as pieces with the mesh before them.
class PieceEncoder {
 public:
  explicit PieceEncoder(EncodingOptions options) : encoder_(options) {}

  // Appends to `done` the pieces that the step completes, as RunEncoder::add hands them on.
  void add(const StepData& step, std::vector<Piece>& done);
  void flush(std::vector<Piece>& done);

  long replaced() const { return encoder_.replaced(); }

 private:
  void take(const Chunk& chunk, std::vector<Piece>& done);

  RunEncoder encoder_;
  Buffer mesh_;  // the mesh last made
};

}  // namespace companion
