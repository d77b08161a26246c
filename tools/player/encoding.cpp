// The chunks of a run's data: meshes and blocks of steps, predicted, split into byte planes and
// deflated.
#include "player/encoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/failure.h"

namespace companion {

namespace {

// Little-endian, whatever the machine: the player reads the bytes with a DataView.
template <class T>
void put(std::vector<unsigned char>& out, T value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  for (std::size_t k = 0; k < sizeof value; ++k) {
    out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
  }
}

// The GPU draws 32-bit floats: a finite value beyond their range becomes the largest one rather
// than an infinity.
float toFloat32(double v) {
  constexpr double LIMIT = std::numeric_limits<float>::max();
  return static_cast<float>(v > LIMIT ? LIMIT : v < -LIMIT ? -LIMIT : v);
}

// A float's bits as an integer that grows with the float, so that the difference of two floats
// of unlike sign is small when both are near zero.
std::uint32_t orderedBits(float v) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return (bits & 0x80000000u) != 0 ? ~bits : bits ^ 0x80000000u;
}

// The power of ten that keeps `digits` significant digits of `largest`: 0.001 for 4 digits of
// 2.5. Never below the smallest normal double, so that a value divided by it stays finite.
double quantumOf(double largest, int digits) {
  if (!(largest > 0.0)) return 1.0;
  const double exponent = std::floor(std::log10(largest)) - (digits - 1);
  return std::max(std::pow(10.0, exponent), std::numeric_limits<double>::min());
}

constexpr std::size_t BLOCK_BYTES = std::size_t{16} << 20;

}  // namespace

Deflater::Deflater(int level, int strategy) {
  // zlib's default level for a page: its best saves two per cent of it for eight times the work.
  if (deflateInit2(&zlib_, level, Z_DEFLATED, MAX_WBITS, 8, strategy) != Z_OK) {
    throw Failure("zlib: out of memory");
  }
}

Deflater::~Deflater() {
  deflateEnd(&zlib_);
}

void Deflater::deflateInto(const unsigned char* data, std::size_t size, std::string& out) {
  deflateReset(&zlib_);
  const std::size_t start = out.size();
  out.resize(start + deflateBound(&zlib_, static_cast<uLong>(size)));
  zlib_.next_in = const_cast<Bytef*>(data);
  zlib_.avail_in = static_cast<uInt>(size);
  zlib_.next_out = reinterpret_cast<Bytef*>(&out[start]);
  zlib_.avail_out = static_cast<uInt>(out.size() - start);
  if (deflate(&zlib_, Z_FINISH) != Z_STREAM_END) throw Failure("zlib: cannot deflate");
  out.resize(out.size() - zlib_.avail_out);
}

std::size_t stepsPerBlock(std::size_t nodes, std::size_t wanted) {
  return std::max<std::size_t>(1,
                               std::min(wanted, BLOCK_BYTES / std::max<std::size_t>(1, 8 * nodes)));
}

RunEncoder::RunEncoder(EncodingOptions options)
    : options_(options),
      deflater_(options.level, options.strategy),
      meshDeflater_(Z_DEFAULT_COMPRESSION) {}

void appendFrame(std::string& out, unsigned char kind, std::string_view payload) {
  const auto size = static_cast<std::uint32_t>(payload.size());
  const char header[FRAME_HEADER_BYTES] = {
      static_cast<char>(kind), static_cast<char>(size), static_cast<char>(size >> 8),
      static_cast<char>(size >> 16), static_cast<char>(size >> 24)};
  out.append(header, FRAME_HEADER_BYTES);
  out.append(payload);
}

// `chunk` with payload_ deflated as its payload.
void RunEncoder::chunk(const Chunk& chunk, Deflater& deflater, const ChunkSink& sink) {
  deflated_.clear();
  deflater.deflateInto(payload_.data(), payload_.size(), deflated_);
  Chunk done = chunk;
  done.payload = deflated_;
  sink(done);
}

// The rest positions in full precision, then the triangles the viewer draws.
void RunEncoder::addMesh(const MeshView& mesh, const ChunkSink& sink) {
  written_.keep(mesh);
  payload_.clear();
  put(payload_, static_cast<std::uint32_t>(mesh.nodeCount));
  put(payload_, static_cast<std::uint32_t>(drawnCount(mesh)));
  for (const NodePosition& node : written_.nodes()) {
    put(payload_, finiteOrZero(node.x, replaced_));
    put(payload_, finiteOrZero(node.y, replaced_));
  }
  for (const Element& element : written_.elements()) {
    if (!isDrawn(element, mesh.nodeCount)) continue;
    for (std::int32_t node : element.nodes) put(payload_, node);
  }
  chunk({MESH_CHUNK, {}, 0, 0}, meshDeflater_, sink);
  blockSteps_ = stepsPerBlock(mesh.nodeCount, options_.blockSteps);
}

void RunEncoder::add(const StepData& step, const ChunkSink& sink) {
  const MeshView& mesh = step.mesh;
  if (!written_.matches(mesh)) {
    flush(sink);  // the block ends where its mesh does: the player meets the new one in time
    addMesh(mesh, sink);
  }
  times_.push_back(finiteOrZero(step.time, replaced_));
  for (std::size_t i = 0; i < mesh.nodeCount; ++i) {
    for (std::size_t c = 0; c < 2; ++c) {
      values_.push_back(toFloat32(finiteOrZero(step.displacements[i][c], replaced_)));
    }
  }
  ++steps_;
  if (times_.size() == blockSteps_) flush(sink);
}

// The block: its first step, its size, the node count, the row, the quantum (0 for exact
// floats), the times; then the displacements as 32-bit integers (the float's ordered bits, or
// the multiple of the quantum), each less the one of the node before it (or below it, at the
// start of a row), the difference's sign folded into its lowest bit. Byte planes follow: the
// lowest bytes of every step's dx, then the next bytes, ..., then the same for dy. Neighbouring
// nodes move alike, so the high planes are nearly all zero and deflate makes little of them.
void RunEncoder::flush(const ChunkSink& sink) {
  const std::size_t count = times_.size();
  if (count == 0) return;
  const std::size_t nodes = written_.nodes().size();
  const std::size_t row = options_.row;
  double quantum = 0.0;
  if (options_.digits > 0) {
    double largest = 0.0;
    for (double v : values_) largest = std::max(largest, std::fabs(v));
    quantum = quantumOf(largest, options_.digits);
  }
  // |v| / quantum stays below 10^digits, 10^9 at most: the clamp only keeps the conversion
  // defined.
  constexpr double LIMIT = std::numeric_limits<std::int32_t>::max();
  words_.resize(2 * count * nodes);  // [c][s][i]
  for (std::size_t s = 0; s < count; ++s) {
    for (std::size_t i = 0; i < nodes; ++i) {
      for (std::size_t c = 0; c < 2; ++c) {
        const double v = values_[(s * nodes + i) * 2 + c];
        std::uint32_t word;
        if (quantum > 0.0) {
          const double k = std::clamp(std::nearbyint(v / quantum), -LIMIT, LIMIT);
          word = static_cast<std::uint32_t>(static_cast<std::int32_t>(k));
        } else {
          word = orderedBits(static_cast<float>(v));
        }
        words_[(c * count + s) * nodes + i] = word;
      }
    }
  }
  const long first = steps_ - static_cast<long>(count);
  payload_.clear();
  put(payload_, static_cast<std::uint32_t>(first));
  put(payload_, static_cast<std::uint32_t>(count));
  put(payload_, static_cast<std::uint32_t>(nodes));
  put(payload_, static_cast<std::uint32_t>(row));
  put(payload_, quantum);
  for (double t : times_) put(payload_, t);
  const std::size_t planeSize = count * nodes, start = payload_.size();
  payload_.resize(start + 8 * planeSize);
  for (std::size_t c = 0; c < 2; ++c) {
    for (std::size_t s = 0; s < count; ++s) {
      const std::uint32_t* x = words_.data() + (c * count + s) * nodes;
      for (std::size_t i = 0; i < nodes; ++i) {
        const std::uint32_t before = row > 0 && i >= row && i % row == 0 ? x[i - row]
                                     : i > 0                             ? x[i - 1]
                                                                         : 0;
        const std::uint32_t delta = x[i] - before;
        const std::uint32_t folded = (delta << 1) ^ (0u - (delta >> 31));
        for (std::size_t b = 0; b < 4; ++b) {
          payload_[start + (4 * c + b) * planeSize + s * nodes + i] =
              static_cast<unsigned char>(folded >> (8 * b));
        }
      }
    }
  }
  chunk({STEPS_CHUNK, {}, first, static_cast<long>(count)}, deflater_, sink);
  times_.clear();
  values_.clear();
}

void appendPageText(const unsigned char* data, std::size_t size, std::string& out) {
  for (std::size_t k = 0; k < size; ++k) {
    const unsigned char b = data[k];
    if (b == 0x00 || b == '\r' || b == '<' || b == '=') {
      out += '=';
      out += static_cast<char>(b ^ 0x40);
    } else {
      out += static_cast<char>(b);
    }
  }
}

}  // namespace companion
