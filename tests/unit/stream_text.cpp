// In-memory text as an InputStream, and scratch working directories.
#include "stream_text.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include <filesystem>
#include <fstream>

void openText(InputStream& s, const std::string& text) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) throw std::runtime_error("tmpfile failed");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
  const int fd = ::dup(fileno(f));
  std::fclose(f);
  ::lseek(fd, 0, SEEK_SET);
  attachStream(s, fd);
}

ScratchDirectory::ScratchDirectory() {
  previous_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "meshplay-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void ScratchDirectory::write(const char* name, const std::string& text) const {
  std::ofstream(std::filesystem::path(path_) / name, std::ios::binary) << text;
}
