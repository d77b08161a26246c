// The stream's frames, and the run's chunks cut into pieces that know the steps they hold.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "html/encoding.h"

namespace companion {

// The frames of the stream: one kind byte, the payload's size (uint32, little-endian), the
// payload. 'M' and 'S' are the chunks of the run's encoding, already framed so.
inline constexpr char RUN_FRAME = 'R', END_FRAME = 'E', HEARTBEAT_FRAME = 'H';

using Buffer = std::shared_ptr<const std::string>;

Buffer frame(char kind, const void* payload, std::uint32_t size);
Buffer runFrame(std::uint32_t run);
Buffer heartbeatFrame(double seconds);

// A steps chunk of the run with the steps it holds and the mesh they are drawn with.
struct Piece {
  long first = 0;
  long count = 0;
  Buffer mesh;
  Buffer chunk;
};

// A RunEncoder whose chunks come out as pieces, each with the steps it holds: a steps chunk
// holds every step added since the one before, except, when a mesh chunk follows it, the step
// that brought the new mesh.
class PieceEncoder {
 public:
  explicit PieceEncoder(EncodingOptions options) : encoder_(options) {}

  void add(const StepData& step, std::vector<Piece>& done);
  void flush(std::vector<Piece>& done);

 private:
  void cut(std::vector<Piece>& done, bool stepAdded);
  std::size_t chunkSize(std::size_t at) const;

  RunEncoder encoder_;
  std::string out_;
  long first_ = 0;  // the open block's first step
  long open_ = 0;   // steps in the open block
  Buffer mesh_;     // the mesh of the open block
};

}  // namespace companion
