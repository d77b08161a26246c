// The run's data as the player reads it, in the page and from the server alike: frames of mesh
// chunks ('M') and steps chunks ('S'), each deflated by zlib. The bytes are described in
// docs/stream-format.md; this writes them, and tools/player/frames.js and store.js read them.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/mesh_values.h"

namespace companion {

inline constexpr unsigned char MESH_CHUNK = 'M';
inline constexpr unsigned char STEPS_CHUNK = 'S';

// A frame as the page and the server's stream hold it: one kind byte, the payload's size (32 bits,
// little-endian), the payload. The run's chunks are frames, and so are the stream's own messages.
inline constexpr std::size_t FRAME_HEADER_BYTES = 5;
void appendFrame(std::string& out, unsigned char kind, std::string_view payload);

// A chunk as the encoder hands it on, valid during the call: its kind, its deflated payload and,
// for a steps chunk, the steps it holds (their indices in the run).
struct Chunk {
  unsigned char kind = 0;
  std::string_view payload;
  long first = 0;
  long count = 0;
};
using ChunkSink = std::function<void(const Chunk&)>;

// A zlib stream for whole buffers, deflated one after another, closed with its owner.
class Deflater {
 public:
  explicit Deflater(int level = Z_DEFAULT_COMPRESSION, int strategy = Z_DEFAULT_STRATEGY);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Appends the complete zlib stream of `size` bytes at `data` to `out`.
  void deflateInto(const unsigned char* data, std::size_t size, std::string& out);

 private:
  z_stream zlib_{};
};

struct EncodingOptions {
  // 0: every displacement exactly as the float the GPU draws. N (1 to 9): each block's values
  // rounded to a multiple of the power of ten that keeps N significant digits of its largest.
  int digits = 0;
  // Nodes per grid row: the first node of a row is told from the one below it rather than from
  // the last of the row before. 0 when the mesh is not a grid.
  std::size_t row = 0;
  // Steps that deflate takes together at most: the longer the byte planes, the better they
  // compress (the B demo's 1001 steps take 6 per cent less in one block than in blocks of 128);
  // 1 for a chunk as soon as a step comes.
  std::size_t blockSteps = 1024;
  // zlib's level and strategy for the steps: its default for what is kept; for chunks that a
  // server pushes at once and soon replaces by a block, its fastest level with runs of bytes
  // alone (Z_RLE): a chunk of a few steps takes a third of the time, and a tenth more room.
  // Meshes are always deflated at the default level, so that two encoders make the same bytes of
  // the same mesh, which a server then keeps and sends once.
  int level = Z_DEFAULT_COMPRESSION;
  int strategy = Z_DEFAULT_STRATEGY;
};

// The number of steps of `nodes` nodes in a block, `wanted` or fewer: deflate sees the block's
// byte planes at once, and a block of a large model must still fit in a few tens of megabytes.
std::size_t stepsPerBlock(std::size_t nodes, std::size_t wanted);

// Turns the steps of a run, in order, into chunks, each handed to a sink as it is made.
class RunEncoder {
 public:
  explicit RunEncoder(EncodingOptions options);

  // Hands `sink` the chunks this step completes: the open block when the mesh changes (then the
  // new mesh) or when the block is full. The step joins the open block before a full one goes.
  void add(const StepData& step, const ChunkSink& sink);
  // Hands `sink` the open block's chunk, if it holds a step.
  void flush(const ChunkSink& sink);

  long steps() const { return steps_; }
  long replaced() const { return replaced_; }  // values written as 0: not finite numbers

 private:
  void addMesh(const MeshView& mesh, const ChunkSink& sink);
  void chunk(const Chunk& chunk, Deflater& deflater, const ChunkSink& sink);

  EncodingOptions options_;
  Deflater deflater_, meshDeflater_;
  KeptMesh written_;                    // the mesh last written
  std::size_t blockSteps_ = 1;          // the open block's capacity, in steps
  std::vector<double> times_;           // the open block's steps
  std::vector<double> values_;          // their displacements, step after step, (dx, dy) per node
  std::vector<std::uint32_t> words_;    // reused: one block's values as integers, then residuals
  std::vector<unsigned char> payload_;  // reused
  std::string deflated_;                // reused: the payload deflated
  long steps_ = 0;
  long replaced_ = 0;
};

// Bytes as text in a page whose every byte is a character (windows-1252): the few bytes that an
// HTML parser would change or end the data at (NUL, CR and "<") and the escape byte "=" itself are
// written as "=" and the byte with bit 6 flipped. Appends to `out`.
void appendPageText(const unsigned char* data, std::size_t size, std::string& out);

}  // namespace companion
