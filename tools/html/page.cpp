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
// Where each of a comparison's runs' data stand in its page.
constexpr const char* RUN_DATA =
    "<script type=\"application/octet-stream\" class=\"meshplay-data\">";
constexpr const char* RUN_DATA_END = "</script>\n";

}  // namespace

PageWriter::PageWriter(const std::string& path, const PageFacts& facts, EncodingOptions options,
                       PageKind kind)
    : temporary_(refuseFolder(path), TemporaryOutput::Kind::File),
      file_(temporary_.path(), path),
      options_(options),
      comparison_(kind == PageKind::Comparison),
      encoder_(std::make_unique<RunEncoder>(options)),
      toChunks_([this](const Chunk& chunk) { appendFrame(chunks_, chunk.kind, chunk.payload); }) {
  std::vector<std::string> parts = pageParts(facts, false, kind);
  tail_ = std::move(parts.back());
  write(parts.front());
}

void PageWriter::nextRun() {
  if (begun_) {
    encoder_->flush(toChunks_);
    writeChunks();
    write(RUN_DATA_END);
    earlierSteps_ += encoder_->steps();
    earlierReplaced_ += encoder_->replaced();
    encoder_ = std::make_unique<RunEncoder>(options_);
  }
  begun_ = true;
  write(RUN_DATA);
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
  encoder_->add(step, toChunks_);
  steps_ = earlierSteps_ + encoder_->steps();
  replaced_ = earlierReplaced_ + encoder_->replaced();
  if (chunks_.size() >= WRITE_CHUNK) writeChunks();
}

void PageWriter::finish() {
  encoder_->flush(toChunks_);
  writeChunks();
  if (comparison_) write(RUN_DATA_END);
  write(tail_);
  file_.close();
  temporary_.commit();
}

}  // namespace companion
