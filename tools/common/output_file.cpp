// Output files.
#include "common/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/failure.h"
#include "common/signals.h"

namespace companion {

OutputFile::OutputFile(const std::string& path, std::string name)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)),
      name_(std::move(name)) {
  if (fd_.get() < 0) throw systemFailure(name_, errno);
}

void OutputFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd_.get(), data, size);
    if (put < 0 && errno == EINTR) {
      throwIfInterrupted();
      continue;
    }
    if (put < 0) throw systemFailure(name_, errno);
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

void OutputFile::close() {
  // Closed once, whatever close() reports: after EINTR the descriptor is gone all the same.
  if (::close(fd_.release()) != 0 && errno != EINTR) throw systemFailure(name_, errno);
}

}  // namespace companion
