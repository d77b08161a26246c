// Following the result file: inotify says when to look, a look reads what is new.
#include "serve/follower.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/failure.h"
#include "model/white_space.h"

namespace companion {

namespace {

constexpr std::size_t READ_SIZE = std::size_t{1} << 16;
constexpr std::size_t LOOK_BYTES = std::size_t{4} << 20;
// Room kept between looks: a few records of a large model as a solver writes them.
constexpr std::size_t KEPT_ROOM = std::size_t{1} << 20;
// A number as a program writes it ("-1.234567890123456e-308") takes some twenty characters; a
// record cut short may hold three times that a field, and a megabyte more, before it is taken for
// text that is no record at all (a file without white space renamed onto the result file).
constexpr std::size_t FIELD_BYTES = 64;
constexpr std::size_t RECORD_SLACK = std::size_t{1} << 20;

}  // namespace

std::size_t RecordCounter::take(const char* data, std::size_t size, std::size_t& records,
                                std::vector<std::size_t>* ends) {
  // A record of profile B is 43 KB, and this is all the follower does with every byte: blocks
  // in which no record can end are passed over by counting the fields that begin in them.
  constexpr std::size_t BLOCK = 64;
  std::size_t end = 0;
  for (std::size_t k = 0; k < size;) {
    if (size - k >= BLOCK) {
      const std::uint64_t space = spaceMask64(data + k);
      const std::uint64_t before = (space << 1) | (inField_ ? 0 : 1);  // white space before
      const auto starts = static_cast<std::size_t>(__builtin_popcountll(before & ~space));
      // The last field may end in the block, and its record with it: read it byte by byte.
      if (fields_ + starts < perRecord_) {
        fields_ += starts;
        inField_ = (space >> 63) == 0;
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
        if (ends != nullptr) ends->push_back(end);
      }
      inField_ = !space;
    }
  }
  return end;
}

std::size_t ResultFollower::recordLimit(std::size_t fieldsPerRecord) {
  return RECORD_SLACK + FIELD_BYTES * fieldsPerRecord;
}

ResultFollower::ResultFollower(FileWatch& watch, const std::string& folder,
                               std::size_t fieldsPerRecord, bool ends)
    : watch_(watch),
      name_(folder == "." ? "result.dat" : folder + "/result.dat"),
      counter_(fieldsPerRecord),
      recordLimit_(recordLimit(fieldsPerRecord)),
      ends_(ends) {
  // The folder's events tell of the file's creation and of a new file renamed into its place;
  // the file's own, of writes through another of its names.
  folderWatch_ = watch_.add(folder, IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE |
                                        IN_DELETE | IN_MOVED_FROM | IN_ATTRIB);
}

ResultFollower::~ResultFollower() {
  watch_.remove(fileWatch_);
  watch_.remove(folderWatch_);
}

void ResultFollower::watchFile() {
  watch_.remove(fileWatch_);
  fileWatch_ = watch_.add(name_, IN_MODIFY | IN_CLOSE_WRITE);
}

// Says `trouble` unless it was the last thing said and the file has not read since.
void ResultFollower::say(Arrival& arrival, const std::string& trouble) {
  if (trouble == said_) return;
  said_ = trouble;
  arrival.trouble = trouble;
}

bool ResultFollower::open(Arrival& arrival) {
  UniqueFd fd(::open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
    // Before the solver has made the file, there is nothing to say.
    if (errno != ENOENT || opens_ > 0) say(arrival, systemFailure(name_, errno).what());
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    say(arrival, name_ + ": is a folder, not a file; waiting for the file");
    return false;
  }
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    say(arrival, name_ + ": is neither a file nor a named pipe; waiting for the file");
    return false;
  }
  said_.clear();
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
  passingOver_ = false;
  offset_ = 0;
  buffer_.cut(passed_);
  counter_.reset();
}

bool ResultFollower::rewind() {
  if (pipe_) return false;
  if (file_.get() >= 0) ::lseek(file_.get(), 0, SEEK_SET);
  offset_ = 0;
  passingOver_ = false;
  buffer_.cut(passed_);  // what the last look passed on stays until the next
  counter_.reset();
  return true;
}

// Whether the regular file holds less than was read of it. A file whose size says less may still
// hold it: the files of /proc say 0.
bool ResultFollower::truncated() const {
  struct stat info {};
  if (offset_ == 0 || ::fstat(file_.get(), &info) != 0 || info.st_size >= offset_) return false;
  char byte;
  return ::pread(file_.get(), &byte, 1, offset_ - 1) == 0;
}

// Reads what the file has now, at most LOOK_BYTES; false once a pipe's writer has left.
bool ResultFollower::read(Arrival& arrival, std::size_t& taken) {
  if (passingOver_ && !pipe_) {  // what is there is not the run's: nothing to read of it
    const off_t end = ::lseek(file_.get(), 0, SEEK_END);
    if (end >= 0) offset_ = end;
    return true;
  }
  while (taken < LOOK_BYTES) {
    // A pipe that no writer has opened yet reads as ended too: only poll() tells that apart from
    // a writer that left (it reports a hang-up only after a writer came).
    pollfd ready{file_.get(), POLLIN, 0};
    if (pipe_ && (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0)) break;
    // Read where the bytes are kept; a run passed over is read into the same place and dropped.
    const ssize_t got = ::read(file_.get(), buffer_.room(READ_SIZE), READ_SIZE);
    if (got > 0 && !passingOver_) buffer_.grow(static_cast<std::size_t>(got));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) break;
    if (got < 0) {
      say(arrival, std::string(systemFailure(name_, errno).what()) + "; trying again");
      break;
    }
    if (got == 0) return !pipe_;
    said_.clear();
    taken += static_cast<std::size_t>(got);
    offset_ += got;
  }
  return true;
}

void ResultFollower::settle() {
  buffer_.drop(passed_);
  passed_ = 0;
  // Between two looks only a record cut short is kept: hundreds of runs read a few megabytes at a
  // time, in turns, must not keep a few megabytes each.
  if (buffer_.capacity() > KEPT_ROOM) buffer_.shrink();
}

Arrival ResultFollower::look() {
  Arrival arrival;
  settle();
  if (file_.get() < 0 && !open(arrival)) return arrival;
  struct stat info {};
  if (!pipe_ && ::stat(name_.c_str(), &info) != 0) {
    if (errno == ENOENT) say(arrival, name_ + ": removed; waiting for a new one");
  } else if (!pipe_ && (info.st_dev != device_ || info.st_ino != inode_) && !open(arrival)) {
    return arrival;
  }
  if (!pipe_ && truncated()) {
    restart(arrival);
    ::lseek(file_.get(), 0, SEEK_SET);
  }

  const std::size_t counted = buffer_.size();
  std::size_t taken = 0;
  const bool writerStays = read(arrival, taken);
  arrival.more = taken >= LOOK_BYTES;
  if (taken > 0 && !passingOver_) {
    // A pipe's new writer begins a new run with its first bytes, not when the last one left.
    arrival.newRun = arrival.newRun || (pipe_ && pipeEnded_);
    pipeEnded_ = false;
    begun_ = true;
  }

  const std::size_t end = counter_.take(buffer_.data() + counted, buffer_.size() - counted,
                                        arrival.records, ends_ ? &arrival.ends : nullptr);
  for (std::size_t& at : arrival.ends) at += counted;
  passed_ = arrival.records > 0 ? counted + end : 0;
  if (buffer_.size() - passed_ > recordLimit_) {
    say(arrival, name_ + ": " + std::to_string(buffer_.size() - passed_) +
                     " bytes without the end of a record, more than any record holds; the run " +
                     "ends before them, and the file is passed over until it begins again");
    buffer_.cut(passed_);
    arrival.closed = true;
    passingOver_ = true;
  }
  if (!writerStays) {
    // A writer that wrote nothing (a solver that failed at once) neither ends a run nor begins
    // one: the next writer's records go where they would have gone.
    arrival.closed = arrival.closed || begun_;
    passed_ = buffer_.size();
    pipeEnded_ = pipeEnded_ || begun_;
    // Open again at once, so that the next writer's open() finds a reader.
    file_.reset();
    begun_ = false;
    open(arrival);
  }
  arrival.text = std::string_view(buffer_.data(), passed_);
  return arrival;
}

}  // namespace companion
