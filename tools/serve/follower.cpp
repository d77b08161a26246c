// Following the result file: inotify says when to look, a look reads what is new.
#include "serve/follower.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/failure.h"

namespace companion {

namespace {

// White space as the reader's scans skip it: blank, tab, line feed, carriage return, vertical
// tab, form feed.
bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr std::size_t READ_SIZE = std::size_t{1} << 16;
constexpr std::size_t LOOK_BYTES = std::size_t{8} << 20;

}  // namespace

std::size_t RecordCounter::take(const char* data, std::size_t size, std::size_t& records) {
  std::size_t end = 0;
  for (std::size_t k = 0; k < size; ++k) {
    if (!isSpace(data[k])) {
      if (!inField_) ++fields_;
      inField_ = true;
    } else if (inField_) {
      inField_ = false;
      if (fields_ == perRecord_) {
        fields_ = 0;
        ++records;
        end = k + 1;
      }
    }
  }
  return end;
}

ResultFollower::ResultFollower(std::string name, std::size_t fieldsPerRecord)
    : name_(std::move(name)),
      counter_(fieldsPerRecord),
      changes_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  // The folder's events tell of the file's creation and of a new file renamed into its place;
  // the file's own, of writes through another of its names.
  if (changes_.get() >= 0) {
    ::inotify_add_watch(changes_.get(), ".", IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
  }
}

void ResultFollower::watchFile() {
  if (changes_.get() < 0) return;
  if (fileWatch_ >= 0) ::inotify_rm_watch(changes_.get(), fileWatch_);
  fileWatch_ = ::inotify_add_watch(changes_.get(), name_.c_str(), IN_MODIFY | IN_CLOSE_WRITE);
}

bool ResultFollower::open(Arrival& arrival) {
  UniqueFd fd(::open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) return false;
  file_ = std::move(fd);
  pipe_ = S_ISFIFO(info.st_mode);
  device_ = info.st_dev;
  inode_ = info.st_ino;
  restart(arrival);
  watchFile();
  return true;
}

// What follows in the file begins a run; the run before ends if it had begun.
void ResultFollower::restart(Arrival& arrival) {
  arrival.newRun = arrival.newRun || begun_;
  begun_ = false;
  offset_ = 0;
  partial_.clear();
  counter_.reset();
}

Arrival ResultFollower::look() {
  Arrival arrival;
  char events[4096];
  while (changes_.get() >= 0 && ::read(changes_.get(), events, sizeof events) > 0) {
  }
  struct stat info {};
  if (file_.get() < 0 && !open(arrival)) return arrival;
  if (!pipe_ && ::stat(name_.c_str(), &info) == 0 &&
      (info.st_dev != device_ || info.st_ino != inode_) && !open(arrival)) {
    return arrival;
  }
  if (!pipe_ && ::fstat(file_.get(), &info) == 0 && info.st_size < offset_) {
    restart(arrival);
    ::lseek(file_.get(), 0, SEEK_SET);
  }

  const std::size_t counted = partial_.size();
  std::size_t taken = 0;
  while (taken < LOOK_BYTES) {
    // A pipe that no writer has opened yet reads as ended too: only poll() tells that apart from
    // a writer that left (it reports a hang-up only after a writer came).
    pollfd ready{file_.get(), POLLIN, 0};
    if (pipe_ && (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0)) break;
    const std::size_t at = partial_.size();
    partial_.resize(at + READ_SIZE);
    const ssize_t got = ::read(file_.get(), &partial_[at], READ_SIZE);
    partial_.resize(at + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got < 0) throw systemFailure(name_, errno);
    if (got == 0) {
      arrival.closed = pipe_;
      break;
    }
    taken += static_cast<std::size_t>(got);
    offset_ += got;
  }
  arrival.more = taken >= LOOK_BYTES;
  if (taken > 0) {
    // A pipe's new writer begins a new run with its first bytes, not when the last one left.
    arrival.newRun = arrival.newRun || (pipe_ && pipeEnded_);
    pipeEnded_ = false;
    begun_ = true;
  }

  const std::size_t end = counted + counter_.take(partial_.data() + counted,
                                                  partial_.size() - counted, arrival.records);
  if (arrival.closed) {
    arrival.text = std::move(partial_);
    partial_.clear();
    counter_.reset();
    // Open again at once, so that the next writer's open() finds a reader.
    file_.reset();
    pipeEnded_ = begun_;
    begun_ = false;
    open(arrival);
  } else if (arrival.records > 0) {
    arrival.text = partial_.substr(0, end);
    partial_.erase(0, end);
  }
  return arrival;
}

}  // namespace companion
