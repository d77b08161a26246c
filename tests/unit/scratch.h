// A scratch folder for tests that write files and open them by name.
#pragma once

#include <string>

// A fresh folder in the temporary folder, made the working directory while it lives; removed,
// with everything in it, at the end.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  void write(const char* name, const std::string& text) const;
  std::string read(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_, previous_;
};
