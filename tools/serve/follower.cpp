// Following the result file: inotify says when to look, a look reads what is new.
#include "serve/follower.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

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

namespace {

// The top bit of each byte of `word` that is white space, eight bytes at once: the low seven
// bits of each byte plus a constant carry into its top bit exactly when they reach a bound, and
// never into the next byte.
std::uint64_t spaceBits(std::uint64_t word) {
  constexpr std::uint64_t ONES = 0x0101010101010101u, TOPS = ONES * 0x80, LOWS = ONES * 0x7f;
  const std::uint64_t low = word & LOWS;
  const auto atLeast = [low](std::uint64_t n) { return (low + ONES * (128 - n)) & TOPS; };
  const std::uint64_t control = atLeast('\t') & ~atLeast('\r' + 1);
  const std::uint64_t blank = atLeast(' ') & ~atLeast(' ' + 1);
  return (control | blank) & ~word & TOPS;
}

// Eight bytes from `p`, the first in the lowest bits.
std::uint64_t eightBytes(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

}  // namespace

std::size_t RecordCounter::take(const char* data, std::size_t size, std::size_t& records) {
  // A record of profile B is 43 KB, and this is all the follower does with every byte: blocks
  // in which no record can end are passed over by counting the fields that begin in them, eight
  // bytes at a time.
  constexpr std::size_t BLOCK = 64;
  std::size_t end = 0;
  for (std::size_t k = 0; k < size;) {
    if (size - k >= BLOCK) {
      int starts = 0;
      std::uint64_t before = inField_ ? 0 : 0x80;  // the top bit: the byte before is white space
      for (std::size_t j = k; j < k + BLOCK; j += 8) {
        const std::uint64_t space = spaceBits(eightBytes(data + j));
        const std::uint64_t begins =
            ((space << 8) | before) & ~space & (0x80 * 0x0101010101010101u);
        starts += static_cast<int>(((begins >> 7) * 0x0101010101010101u) >> 56);  // their count
        before = space >> 56;
      }
      // The last field may end in the block, and its record with it: read it byte by byte.
      if (fields_ + static_cast<std::size_t>(starts) < perRecord_) {
        fields_ += static_cast<std::size_t>(starts);
        inField_ = before == 0;
        k += BLOCK;
        continue;
      }
    }
    for (const std::size_t last = std::min(size, k + BLOCK); k < last; ++k) {
      const bool space = isSpace(data[k]);
      if (!space && !inField_) ++fields_;
      if (space && inField_ && fields_ == perRecord_) {
        fields_ = 0;
        ++records;
        end = k + 1;
      }
      inField_ = !space;
    }
  }
  return end;
}

ResultFollower::ResultFollower(std::string name, std::size_t fieldsPerRecord)
    : name_(std::move(name)),
      counter_(fieldsPerRecord),
      changes_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      chunk_(new char[READ_SIZE]) {
  buffer_.reserve(LOOK_BYTES + READ_SIZE);
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
  ++opens_;
  pipe_ = S_ISFIFO(info.st_mode);
  device_ = info.st_dev;
  inode_ = info.st_ino;
  restart(arrival);
  watchFile();
  return true;
}

// What follows in the file begins a run; the run before ends if it had begun. What was passed
// on stays until the next look.
void ResultFollower::restart(Arrival& arrival) {
  arrival.newRun = arrival.newRun || begun_;
  begun_ = false;
  offset_ = 0;
  buffer_.resize(passed_);
  counter_.reset();
}

Arrival ResultFollower::look() {
  Arrival arrival;
  buffer_.erase(0, passed_);
  passed_ = 0;
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

  const std::size_t counted = buffer_.size();
  std::size_t taken = 0;
  while (taken < LOOK_BYTES) {
    // A pipe that no writer has opened yet reads as ended too: only poll() tells that apart from
    // a writer that left (it reports a hang-up only after a writer came).
    pollfd ready{file_.get(), POLLIN, 0};
    if (pipe_ && (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0)) break;
    const ssize_t got = ::read(file_.get(), chunk_.get(), READ_SIZE);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got < 0) throw systemFailure(name_, errno);
    if (got == 0) {
      arrival.closed = pipe_;
      break;
    }
    buffer_.append(chunk_.get(), static_cast<std::size_t>(got));
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

  const std::size_t end =
      counter_.take(buffer_.data() + counted, buffer_.size() - counted, arrival.records);
  passed_ = arrival.records > 0 ? counted + end : 0;
  if (arrival.closed) {
    passed_ = buffer_.size();
    // Open again at once, so that the next writer's open() finds a reader.
    file_.reset();
    pipeEnded_ = begun_;
    begun_ = false;
    open(arrival);
  }
  arrival.text = std::string_view(buffer_.data(), passed_);
  return arrival;
}

}  // namespace companion
