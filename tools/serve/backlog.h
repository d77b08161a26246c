// How far one stream client may fall behind before it is dropped.
#pragma once

#include <algorithm>
#include <cstddef>

namespace companion {

// The bytes queued for one stream client. The frames of the run so far, queued when it connects,
// are its catch-up: however long the run, they never count against it. Beyond them at most
// `limit` bytes of new frames may wait; a client over that is dropped, and its page reconnects
// and resumes where it was. Frames leave the queue from its front, so the catch-up goes first.
class Backlog {
 public:
  explicit Backlog(std::size_t limit) : limit_(limit) {}

  // A frame of the run so far, queued on connecting.
  void catchUp(std::size_t bytes) {
    queued_ += bytes;
    catchUp_ += bytes;
  }
  // A frame of new steps; false once the client is too far behind.
  bool queue(std::size_t bytes) {
    queued_ += bytes;
    return behind() <= limit_;
  }
  // Bytes taken off the front of the queue to be written.
  void written(std::size_t bytes) {
    queued_ -= std::min(queued_, bytes);
    catchUp_ -= std::min(catchUp_, bytes);
  }
  void clear() { queued_ = catchUp_ = 0; }

  // New bytes waiting, beyond the catch-up.
  std::size_t behind() const { return queued_ - catchUp_; }

 private:
  std::size_t limit_;
  std::size_t queued_ = 0;
  std::size_t catchUp_ = 0;  // of queued_, the catch-up not yet taken
};

}  // namespace companion
