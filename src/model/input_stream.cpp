// The buffered reader under the scanner: open, close and refill.
#include "model/input_stream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

InputStream::~InputStream() {
  closeStream(*this);
}

InputStream::InputStream(InputStream&& other) noexcept {
  *this = static_cast<InputStream&&>(other);
}

InputStream& InputStream::operator=(InputStream&& other) noexcept {
  if (this == &other) return *this;
  closeStream(*this);
  fd = other.fd;
  atEnd = other.atEnd;
  stopOnSignal = other.stopOnSignal;
  end = other.end - other.pos;
  if (other.data == other.buffer) {
    std::memcpy(buffer, other.buffer + other.pos, end);  // only the unread bytes matter
    data = buffer;
  } else {
    data = other.data + other.pos;  // bytes in memory stay where they are
  }
  other.fd = -1;
  closeStream(other);
  return *this;
}

bool openStream(InputStream& s, const char* path) {
  closeStream(s);
  // Opened without blocking: a named pipe in a file's place with no writer would otherwise hold
  // start-up, or the reopen at the end of a run, forever. Reads then block as usual, so a pipe
  // with a writer streams, and one without reads as the end of the data.
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  attachStream(s, fd);
  return true;
}

void attachStream(InputStream& s, int fd) {
  closeStream(s);
  s.fd = fd;
  s.atEnd = fd < 0;
}

void attachBytes(InputStream& s, const char* bytes, std::size_t size) {
  closeStream(s);
  s.data = bytes;
  s.end = size;
}

void closeStream(InputStream& s) {
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.data = s.buffer;
  s.atEnd = true;
  s.pos = 0;
  s.end = 0;
}

void fillStream(InputStream& s, std::size_t count) {
  // Bytes in memory are at their end once given: only a file's own buffer is ever filled.
  if (s.end - s.pos >= count || s.atEnd) return;
  if (s.pos > 0) {
    std::memmove(s.buffer, s.buffer + s.pos, s.end - s.pos);
    s.end -= s.pos;
    s.pos = 0;
  }
  while (s.end < count && !s.atEnd) {
    ssize_t got = ::read(s.fd, s.buffer + s.end, STREAM_BUFFER_SIZE - s.end);
    if (got > 0) {
      s.end += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR && (s.stopOnSignal == nullptr || *s.stopOnSignal == 0)) {
      continue;
    } else {
      // End of file, an error such as EISDIR for a directory in the file's place, or a stop:
      // either way there is nothing more to read, which the readers treat as an exhausted stream.
      s.atEnd = true;
    }
  }
}
