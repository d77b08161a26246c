// An output file written in whole blocks, every write and the close checked.
#pragma once

#include <cstddef>
#include <string>

#include "common/unique_fd.h"

namespace companion {

class OutputFile {
 public:
  // Creates or truncates `path`; messages call it `name`, the file as the user will find it.
  OutputFile(const std::string& path, std::string name);

  // Writes the whole block; throws "<name>: <reason>" (a full disk, a file-size limit), or
  // Interrupted when a stop signal cut the write short.
  void write(const char* data, std::size_t size);
  void write(const std::string& text) { write(text.data(), text.size()); }

  // Closes the file, which is where some file systems report a failed write; throws likewise.
  void close();

 private:
  UniqueFd fd_;
  std::string name_;
};

}  // namespace companion
