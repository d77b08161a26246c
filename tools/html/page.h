// The web page of a run: one HTML file that holds the player (tools/html/player.*), the mesh and
// every step's displacements, compressed, and needs nothing else to play the run in a browser.
#pragma once

#include <string>
#include <vector>

#include "common/output_file.h"
#include "common/step_writer.h"
#include "common/temporary_output.h"
#include "html/encoding.h"

namespace companion {

// What the page says of the program and its model: the player draws with the viewer's constants.
struct PageFacts {
  std::string title;    // the page's title and heading, as the user gave it (UTF-8)
  std::string program;  // the viewer's name, "meshplay-b"
  std::string profile;  // the profile's constants as JSON members ("\"NX\": 10, ...")
  int digits = 0;       // significant digits kept (--digits), 0 when every value is exact
};

// The page's template filled in, as its text around the holes left for what only its writer
// knows: for a page, one hole, where the run's data go; for a `live` page (its data come from a
// server), one before each nonce="..." of its inline style and script, where its server puts each
// response's own nonce, the same as in its Content-Security-Policy, so that no other script or
// style runs. Whatever the facts hold (a title of "@DATA@", say) is text, never a hole.
std::vector<std::string> pageParts(const PageFacts& facts, bool live);

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
