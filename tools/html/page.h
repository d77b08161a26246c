// The web page of a run: one HTML file that holds the player (tools/player/), the mesh and
// every step's displacements, compressed, and needs nothing else to play the run in a browser.
#pragma once

#include <memory>
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
  // A comparison's page holds its runs one after another, each begun by nextRun().
  PageWriter(const std::string& path, const PageFacts& facts, EncodingOptions options,
             PageKind kind = PageKind::Run);

  // The steps added from now on are the next run's (a comparison's).
  void nextRun();
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
  EncodingOptions options_;
  bool comparison_;
  bool begun_ = false;                           // a comparison's first run has begun
  std::unique_ptr<RunEncoder> encoder_;          // the run's, a new one for each of a comparison's
  long earlierSteps_ = 0, earlierReplaced_ = 0;  // of a comparison's runs before this one
  std::string tail_;
  ChunkSink toChunks_;         // frames each chunk into chunks_
  std::string chunks_, text_;  // reused
  long long bytes_ = 0;
};

}  // namespace companion
