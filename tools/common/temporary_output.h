// Output that appears complete or not at all: written under a short temporary name beside its
// final one, renamed into place when complete, and removed, with all in it, if it never is.
#pragma once

#include <string>

namespace companion {

class TemporaryOutput {
 public:
  enum class Kind { File, Folder };

  // Creates a new, empty file or folder named ".meshplay-XXXXXX" (six random characters) in the
  // folder of `finalPath`, with the permissions a new file or folder gets there. The name is
  // short whatever the final name's length, and holds no colon, which ffmpeg would read as a
  // protocol. Throws naming `finalPath` when it cannot be created.
  TemporaryOutput(std::string finalPath, Kind kind);
  ~TemporaryOutput();
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;

  const std::string& path() const { return path_; }
  const std::string& finalPath() const { return finalPath_; }

  // Renames it to its final name, replacing a file (or an empty folder) there. Throws naming the
  // final name when it cannot, or Interrupted if a stop signal came first.
  void commit();

  // Takes a commit back: the output returns to its temporary name, to be removed.
  void rollback();

 private:
  std::string finalPath_;
  std::string path_;
  bool committed_ = false;
};

// Commits `first`, then `second`; if the second fails, the first is rolled back, so that either
// both are in place or neither.
void commitBoth(TemporaryOutput& first, TemporaryOutput& second);

}  // namespace companion
