// The web page of a run: one HTML file that holds the player (tools/html/player.*), the mesh and
// every step's displacements, compressed, and needs nothing else to play the run in a browser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "common/output_file.h"
#include "common/step_writer.h"
#include "common/temporary_output.h"

namespace companion {

// What the page says of the program and its model, as JSON members ("\"NX\": 10, ..."): the
// player draws with the viewer's constants.
struct PageFacts {
  std::string title;    // the page's title and heading
  std::string program;  // the viewer's name, "meshplay-b"
  std::string profile;  // the profile's constants as JSON members
};

class PageWriter : public StepWriter {
 public:
  // Refuses a folder at `path`; creates the page under its temporary name and writes its head.
  PageWriter(const std::string& path, PageFacts facts);
  ~PageWriter() override;

  // Appends the step's displacements, and its mesh if it is the first or differs from the last.
  void add(const StepData& step) override;
  // Writes the steps' times and the rest of the page, and moves it into place.
  void finish() override;

  long long bytes() const { return bytes_; }  // the page's size so far

 private:
  void deflateBytes(const void* data, std::size_t size, int flush);
  void flushBlock();
  void writeBase64(const unsigned char* data, std::size_t size);
  void write(const std::string& text);

  PageFacts facts_;
  companion::TemporaryOutput temporary_;
  companion::OutputFile file_;
  std::string rest_;  // the template after the data: written by finish()
  z_stream zlib_{};
  bool zlibOpen_ = false;
  std::vector<unsigned char> compressed_;  // deflate's output buffer
  unsigned char pending_[3] = {};          // bytes not yet in a whole base64 group
  std::size_t pendingCount_ = 0;
  std::string text_;  // base64 text on its way to the file; reused
  long long bytes_ = 0;

  std::size_t nodeCount_ = 0;
  KeptMesh writtenMesh_;               // the mesh last written
  std::size_t blockSteps_ = 1;         // steps whose values deflate takes together
  std::vector<std::uint32_t> block_;   // their values, encoded, step after step
  std::size_t blockCount_ = 0;         // steps in block_
  std::vector<unsigned char> planes_;  // block_ byte plane by byte plane; reused
  std::string times_, meshSteps_, meshTriangles_, blocks_;  // JSON arrays without brackets
  double smallest_ = 0.0, largest_ = 0.0;                   // displacement magnitudes of the run
};

}  // namespace companion
