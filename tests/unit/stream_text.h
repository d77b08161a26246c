// Test helper: an InputStream over text held in memory, read through a real descriptor.
#pragma once

#include <string>

#include "model/input_stream.h"

// Opens `s` on a temporary file holding `text` (already unlinked, so nothing is left behind).
void openText(InputStream& s, const std::string& text);

// A fresh working directory for tests that open the viewer's files by name; changes into it.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  void write(const char* name, const std::string& text) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};
