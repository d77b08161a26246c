// Output files: every write and the close checked, the first failure kept.
#include "output_file.h"

#include <cerrno>
#include <cstring>

#include "companion.h"

namespace {

void keepFailure(OutputFile& out) {
  if (out.error.empty()) {
    out.error = out.name + ": " + (errno != 0 ? std::strerror(errno) : "write failed");
  }
  if (out.file != nullptr) std::fclose(out.file);  // the temporary is removed by fail()
  out.file = nullptr;
}

}  // namespace

void openOutput(OutputFile& out, const std::string& path, const std::string& name) {
  out.name = name;
  out.file = std::fopen(path.c_str(), "wb");
  if (out.file == nullptr) keepFailure(out);
}

void writeOutput(OutputFile& out, const char* data, std::size_t size) {
  if (out.file == nullptr) return;
  errno = 0;
  if (std::fwrite(data, 1, size, out.file) != size) keepFailure(out);
}

void closeOutput(OutputFile& out) {
  if (out.file == nullptr) return;
  errno = 0;
  const bool flushed = std::fflush(out.file) == 0;
  const bool closed = std::fclose(out.file) == 0;
  out.file = nullptr;
  if (!flushed || !closed) keepFailure(out);
}

void failOnError(const OutputFile& out) {
  if (!out.error.empty()) companion::fail(out.error);
}
