// The web page: the player's template filled in, the run's chunks written into it as text as the
// steps come, so that memory stays flat however long the run.
#include "html/page.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/output_path.h"

namespace companion {

namespace {

constexpr std::size_t WRITE_CHUNK = 1 << 16;

}  // namespace

PageWriter::PageWriter(const std::string& path, const PageFacts& facts, EncodingOptions options)
    : temporary_(refuseFolder(path), TemporaryOutput::Kind::File),
      file_(temporary_.path(), path),
      encoder_(options),
      toChunks_([this](const Chunk& chunk) { appendFrame(chunks_, chunk.kind, chunk.payload); }) {
  std::vector<std::string> parts = pageParts(facts, false);
  tail_ = std::move(parts.back());
  write(parts.front());
}

void PageWriter::write(const std::string& text) {
  file_.write(text);
  bytes_ += static_cast<long long>(text.size());
}

// The chunks made so far, as the page's text.
void PageWriter::writeChunks() {
  text_.clear();
  appendPageText(reinterpret_cast<const unsigned char*>(chunks_.data()), chunks_.size(), text_);
  chunks_.clear();
  write(text_);
}

void PageWriter::add(const StepData& step) {
  encoder_.add(step, toChunks_);
  steps_ = encoder_.steps();
  replaced_ = encoder_.replaced();
  if (chunks_.size() >= WRITE_CHUNK) writeChunks();
}

void PageWriter::finish() {
  encoder_.flush(toChunks_);
  writeChunks();
  write(tail_);
  file_.close();
  temporary_.commit();
}

}  // namespace companion
