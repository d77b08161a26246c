// Output files: writes and closes checked, failures reported by companion::fail.
#include "output_file.h"

#include <cerrno>
#include <cstring>

#include "companion.h"

namespace {

[[noreturn]] void failWriting(OutputFile& out) {
  const std::string reason = errno != 0 ? std::strerror(errno) : "write failed";
  if (out.file != nullptr) std::fclose(out.file);  // the temporary is removed by fail()
  out.file = nullptr;
  companion::fail(out.name + ": " + reason);
}

}  // namespace

void openOutput(OutputFile& out, const std::string& path, const std::string& name) {
  out.name = name;
  out.file = std::fopen(path.c_str(), "wb");
  if (out.file == nullptr) failWriting(out);
}

void writeOutput(OutputFile& out, const char* data, std::size_t size) {
  errno = 0;
  if (std::fwrite(data, 1, size, out.file) != size) failWriting(out);
}

void closeOutput(OutputFile& out) {
  errno = 0;
  const bool flushed = std::fflush(out.file) == 0;
  const bool closed = std::fclose(out.file) == 0;
  out.file = nullptr;
  if (!flushed || !closed) failWriting(out);
}
