// The web page: the player's template filled in, the data deflated by zlib and written as base64
// as the steps come, so that memory stays flat however long the run.
#include "html/page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "common/failure.h"
#include "common/markup.h"
#include "common/output_path.h"
#include "player_assets.h"

namespace companion {

namespace {

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t WRITE_CHUNK = 1 << 16;

// The template with each of its marks ("@TITLE@") replaced by its text; what is put in is never
// searched for marks again, so that a title may hold anything.
std::string fill(const std::string& page,
                 const std::vector<std::pair<std::string, std::string>>& marks) {
  std::string out;
  std::size_t at = 0;
  while (at < page.size()) {
    std::size_t next = std::string::npos;
    const std::pair<std::string, std::string>* found = nullptr;
    for (const auto& mark : marks) {
      const std::size_t where = page.find(mark.first, at);
      if (where < next) {
        next = where;
        found = &mark;
      }
    }
    if (found == nullptr) break;
    out.append(page, at, next - at);
    out += found->second;
    at = next + found->first.size();
  }
  return out.append(page, std::min(at, page.size()), std::string::npos);
}

// A JSON string that can stand inside a <script> element: "<" never appears as itself.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The page keeps displacements as 32-bit floats, which the GPU draws with: a finite value beyond
// their range becomes the largest one rather than an infinity.
float toFloat32(double v) {
  constexpr double LIMIT = std::numeric_limits<float>::max();
  return static_cast<float>(v > LIMIT ? LIMIT : v < -LIMIT ? -LIMIT : v);
}

// Little-endian, whatever the machine: the page reads the bytes with a DataView.
template <class T>
void appendLittleEndian(std::vector<unsigned char>& out, T value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof value);
  for (std::size_t k = 0; k < sizeof value; ++k)
    out.push_back(static_cast<unsigned char>(bits >> (8 * k)));
}

}  // namespace

PageWriter::PageWriter(const std::string& path, PageFacts facts)
    : facts_(std::move(facts)),
      temporary_(refuseFolder(path), companion::TemporaryOutput::Kind::File),
      file_(temporary_.path(), path),
      compressed_(WRITE_CHUNK) {
  // zlib's default level: its best saves two per cent of the page for eight times the work.
  if (deflateInit(&zlib_, Z_DEFAULT_COMPRESSION) != Z_OK) {
    throw companion::Failure("zlib: out of memory");
  }
  zlibOpen_ = true;
  const std::string page = PLAYER_HTML;
  const std::size_t data = page.find("@DATA@");
  rest_ = page.substr(data + 6);
  write(fill(page.substr(0, data),
             {{"@TITLE@", companion::escapeMarkup(facts_.title)}, {"@STYLE@", PLAYER_CSS}}));
}

PageWriter::~PageWriter() {
  if (zlibOpen_) deflateEnd(&zlib_);
}

void PageWriter::write(const std::string& text) {
  file_.write(text);
  bytes_ += static_cast<long long>(text.size());
}

void PageWriter::writeBase64(const unsigned char* data, std::size_t size) {
  for (std::size_t k = 0; k < size; ++k) {
    pending_[pendingCount_++] = data[k];
    if (pendingCount_ < 3) continue;
    const unsigned group = pending_[0] << 16 | pending_[1] << 8 | pending_[2];
    for (int shift = 18; shift >= 0; shift -= 6) text_ += BASE64[(group >> shift) & 63];
    pendingCount_ = 0;
  }
  if (text_.size() >= WRITE_CHUNK) {
    write(text_);
    text_.clear();
  }
}

void PageWriter::deflateBytes(const void* data, std::size_t size, int flush) {
  zlib_.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  zlib_.avail_in = static_cast<uInt>(size);
  do {
    zlib_.next_out = compressed_.data();
    zlib_.avail_out = static_cast<uInt>(compressed_.size());
    deflate(&zlib_, flush);
    writeBase64(compressed_.data(), compressed_.size() - zlib_.avail_out);
  } while (zlib_.avail_out == 0 || (flush == Z_FINISH && zlib_.avail_in > 0));
}

// Deflate sees this much of the values at once at most: enough steps that the runs of equal bytes
// in a byte plane are long, few enough that memory stays small for a large model.
constexpr std::size_t BLOCK_BYTES = std::size_t{4} << 20;
constexpr std::size_t MAX_BLOCK_STEPS = 128;

void PageWriter::add(const StepData& step) {
  const MeshView& mesh = step.mesh;
  const std::size_t values = 2 * mesh.nodeCount;
  if (steps_ == 0) {
    nodeCount_ = mesh.nodeCount;
    blockSteps_ = std::max<std::size_t>(
        1, std::min(MAX_BLOCK_STEPS, BLOCK_BYTES / std::max<std::size_t>(1, 4 * values)));
    block_.resize(blockSteps_ * values);
    planes_.resize(block_.size() * 4);
  }
  // The mesh, at the first step and wherever the node or element file changes the tables: the
  // rest positions in full precision, then the triangles the viewer draws. A block of values
  // ends before it, so that the page meets it at the step it belongs to.
  if (!writtenMesh_.matches(mesh)) {
    flushBlock();
    writtenMesh_.keep(mesh);
    std::vector<unsigned char> bytes;
    for (const NodePosition& node : writtenMesh_.nodes()) {
      appendLittleEndian(bytes, finiteOrZero(node.x, replaced_));
      appendLittleEndian(bytes, finiteOrZero(node.y, replaced_));
    }
    long triangles = 0;
    for (const Element& element : writtenMesh_.elements()) {
      if (!isDrawn(element, mesh.nodeCount)) continue;
      for (std::int32_t node : element.nodes) appendLittleEndian(bytes, node);
      ++triangles;
    }
    deflateBytes(bytes.data(), bytes.size(), Z_NO_FLUSH);
    meshSteps_ += (meshSteps_.empty() ? "" : ",") + std::to_string(steps_);
    meshTriangles_ += (meshTriangles_.empty() ? "" : ",") + std::to_string(triangles);
  }
  // The displacements as float bits, all dx and then all dy, each the difference from the one
  // before with its sign folded into the lowest bit: neighbouring nodes move alike, so the
  // differences are small, and their high bytes nearly all zero once split into byte planes.
  std::uint32_t* const out = block_.data() + blockCount_ * values;
  for (std::size_t c = 0; c < 2; ++c) {
    std::uint32_t before = 0;
    for (std::size_t i = 0; i < mesh.nodeCount; ++i) {
      const float v = toFloat32(finiteOrZero(step.displacements[i][c], replaced_));
      std::uint32_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      const std::uint32_t delta = bits - before;
      out[c * mesh.nodeCount + i] = (delta << 1) ^ (0u - (delta >> 31));
      before = bits;
    }
  }
  for (std::size_t i = 0; i < mesh.nodeCount; ++i) {
    float pair[2];
    for (std::size_t c = 0; c < 2; ++c) {
      pair[c] =
          std::isfinite(step.displacements[i][c]) ? toFloat32(step.displacements[i][c]) : 0.0f;
    }
    const double magnitude = std::hypot(static_cast<double>(pair[0]), static_cast<double>(pair[1]));
    if ((steps_ == 0 && i == 0) || magnitude < smallest_) smallest_ = magnitude;
    if ((steps_ == 0 && i == 0) || magnitude > largest_) largest_ = magnitude;
  }
  if (++blockCount_ == blockSteps_) flushBlock();
  std::string time;
  appendNumber(time, finiteOrZero(step.time, replaced_));
  times_ += (times_.empty() ? "" : ",") + time;
  ++steps_;
}

// The block's values byte plane by byte plane, the dx of its steps and then their dy: the lowest
// bytes of all the dx, then the next, and so on. Each plane of a component compresses best alone.
void PageWriter::flushBlock() {
  if (blockCount_ == 0) return;
  const std::size_t n = nodeCount_, count = blockCount_ * n;  // values of one component
  for (std::size_t c = 0; c < 2; ++c) {
    for (std::size_t b = 0; b < 4; ++b) {
      unsigned char* plane = planes_.data() + (4 * c + b) * count;
      for (std::size_t s = 0; s < blockCount_; ++s) {
        const std::uint32_t* values = block_.data() + (2 * s + c) * n;
        for (std::size_t i = 0; i < n; ++i)
          plane[s * n + i] = static_cast<unsigned char>(values[i] >> (8 * b));
      }
    }
  }
  deflateBytes(planes_.data(), 8 * count, Z_NO_FLUSH);
  blocks_ += (blocks_.empty() ? "" : ",") + std::to_string(blockCount_);
  blockCount_ = 0;
}

void PageWriter::finish() {
  flushBlock();
  deflateBytes(nullptr, 0, Z_FINISH);
  deflateEnd(&zlib_);
  zlibOpen_ = false;
  if (pendingCount_ > 0) {
    const unsigned group = pending_[0] << 16 | (pendingCount_ > 1 ? pending_[1] << 8 : 0);
    text_ += BASE64[(group >> 18) & 63];
    text_ += BASE64[(group >> 12) & 63];
    text_ += pendingCount_ > 1 ? BASE64[(group >> 6) & 63] : '=';
    text_ += '=';
  }
  write(text_);
  std::string meta =
      "{\"program\": " + jsonString(facts_.program) + ", \"title\": " + jsonString(facts_.title) +
      ", \"profile\": {" + facts_.profile + "}, \"nodes\": " + std::to_string(nodeCount_) +
      ", \"times\": [" + times_ + "], \"meshSteps\": [" + meshSteps_ + "], \"meshTriangles\": [" +
      meshTriangles_ + "], \"blocks\": [" + blocks_ + "], \"magnitude\": [";
  appendNumber(meta, smallest_);
  meta += ", ";
  appendNumber(meta, largest_);
  meta += "]}";
  write(fill(rest_, {{"@META@", meta}, {"@SCRIPT@", PLAYER_JS}}));
  file_.close();
  temporary_.commit();
}

}  // namespace companion
