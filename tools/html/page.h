// The web page of a run: one HTML file that holds the player (tools/player/), the mesh and
// every step's displacements, compressed, and needs nothing else to play the run in a browser.
#pragma once

#include <string>
#include <vector>

#include "common/output_file.h"
#include "common/step_writer.h"
#include "common/temporary_output.h"
#include "player/encoding.h"
#include "player/page_parts.h"

namespace companion {

class PageWriter : public StepWriter {
 public:
  // Refuses a folder at `path`; creates the page under its temporary name and writes its head.
  PageWriter(const std::string& path, const PageFacts& facts, EncodingOptions options);

  // Appends the step; a full block of steps goes into the page as text.
  void add(const StepData& step) override;
  // Writes the last block and the rest of the page, and moves it into place.
  void finish() override;

  long long bytes() const { return bytes_; }  // the page's size so far

 private:
  void write(const std::string& text);
  void writeChunks();

  TemporaryOutput temporary_;
  OutputFile file_;
  RunEncoder encoder_;
  std::string tail_;
  ChunkSink toChunks_;         // frames each chunk into chunks_
  std::string chunks_, text_;  // reused
  long long bytes_ = 0;
};

}  // namespace companion
