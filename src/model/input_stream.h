// A buffered, allocation-free reader over a file descriptor: the three input streams of the viewer.
#pragma once

#include <atomic>
#include <cstddef>

// Large enough that a profile-B record (about 43 KB of text) usually needs a single read().
inline constexpr std::size_t STREAM_BUFFER_SIZE = std::size_t{1} << 16;

// A stream reads a file through its own buffer, or bytes that a caller holds in memory
// (attachBytes), where they lie: nothing is copied, and their end is the end of the data.
//
// A stream that never opened, or was closed, is "absent": it holds no data and is at its end, so
// every scan on it fails without touching anything. The end is sticky, as it is for C streams: once
// read() has reported the end of the file, nothing more is read until the stream is reopened.
//
// A stream owns its descriptor: it is closed when the stream goes away or is given another one.
// Streams move but never copy, so no two of them can close the same descriptor.
struct InputStream {
  int fd = -1;
  bool atEnd = true;
  std::size_t pos = 0;        // next unread byte in data
  std::size_t end = 0;        // one past the last valid byte in data
  const char* data = buffer;  // the bytes read: the buffer, or those given to attachBytes
  char buffer[STREAM_BUFFER_SIZE] = {};
  // A read() cut short by a signal (EINTR, which only a handler installed without SA_RESTART
  // causes) is retried, unless this points at a value that has become non-zero: then the program
  // is stopping, and the stream ends as if the file had. Kept when the stream is reopened.
  const std::atomic<int>* stopOnSignal = nullptr;

  InputStream() = default;
  ~InputStream();
  InputStream(InputStream&& other) noexcept;
  InputStream& operator=(InputStream&& other) noexcept;
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
};

// Opens path for reading; true on success. A stream that was open is closed first.
bool openStream(InputStream& s, const char* path);

// Takes over an already open descriptor (tests and tools read from pipes and temporary files).
void attachStream(InputStream& s, int fd);

// Reads the `size` bytes at `bytes` instead of a file, which must stay where they are until the
// stream is closed or given something else; the data end where they do. A stream that was open is
// closed first.
void attachBytes(InputStream& s, const char* bytes, std::size_t size);

// Closes the descriptor if there is one and leaves the stream absent.
void closeStream(InputStream& s);

inline bool isOpen(const InputStream& s) {
  return s.fd >= 0;
}

// Reads until at least `count` unread bytes are in the buffer, or the data end; `count` is at
// most STREAM_BUFFER_SIZE. Unread bytes are moved to the buffer's start first, so a field that
// straddles two reads ends up contiguous. Each read() takes what the file has at the moment: on a
// pipe, asking for one byte more than is buffered waits for no more than the writer has written.
void fillStream(InputStream& s, std::size_t count);
