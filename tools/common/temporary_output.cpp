// Temporary outputs: created beside their final names, renamed into place or removed.
#include "common/temporary_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/failure.h"
#include "common/signals.h"

namespace companion {

namespace {

namespace fs = std::filesystem;

// The permissions a new file or folder gets from the user's umask.
mode_t permitted(mode_t mode) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mode & ~mask;
}

}  // namespace

TemporaryOutput::TemporaryOutput(std::string finalPath, Kind kind)
    : finalPath_(std::move(finalPath)) {
  fs::path named(finalPath_);
  if (!named.has_filename()) named = named.parent_path();  // "frames/" is the folder "frames"
  const fs::path folder = named.parent_path();
  std::string pattern = ((folder.empty() ? fs::path(".") : folder) / ".meshplay-XXXXXX").string();
  if (kind == Kind::Folder) {
    if (::mkdtemp(pattern.data()) == nullptr) throw systemFailure(finalPath_, errno);
    ::chmod(pattern.c_str(), permitted(0777));
  } else {
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw systemFailure(finalPath_, errno);
    ::fchmod(fd, permitted(0666));
    ::close(fd);
  }
  path_ = pattern;
}

TemporaryOutput::~TemporaryOutput() {
  if (committed_) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void TemporaryOutput::commit() {
  throwIfInterrupted();
  if (std::rename(path_.c_str(), finalPath_.c_str()) != 0) throw systemFailure(finalPath_, errno);
  committed_ = true;
}

void TemporaryOutput::rollback() {
  if (committed_ && std::rename(finalPath_.c_str(), path_.c_str()) == 0) committed_ = false;
}

void commitBoth(TemporaryOutput& first, TemporaryOutput& second) {
  first.commit();
  try {
    second.commit();
  } catch (...) {
    first.rollback();
    throw;
  }
}

}  // namespace companion
