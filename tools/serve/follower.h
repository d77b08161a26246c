// Following the result file as a solver writes it: the bytes it gains, cut at the end of the last
// complete record, and the moments a new run begins (the file truncated or replaced, a pipe with
// a new writer). It never blocks, never reads a record twice, and says what goes wrong with the
// file without giving up on it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_buffer.h"
#include "common/unique_fd.h"
#include "serve/watch.h"

namespace companion {

// Where a result file's records end: a record is `fieldsPerRecord` fields separated by white
// space (as the scanner skips it), and it is complete once white space follows its last field,
// so that a record whose last number is still being written waits for the rest.
class RecordCounter {
 public:
  explicit RecordCounter(std::size_t fieldsPerRecord) : perRecord_(fieldsPerRecord) {}

  // Takes the next bytes of the file. Returns how many of them, from the first, end with the
  // last record they complete (0 if they complete none), and adds the records to `records`; and,
  // given `ends`, where each record completed ends (one past its white space), from `data`.
  std::size_t take(const char* data, std::size_t size, std::size_t& records,
                   std::vector<std::size_t>* ends = nullptr);
  void reset() { fields_ = 0, inField_ = false; }

 private:
  std::size_t perRecord_;
  std::size_t fields_ = 0;  // fields of the record begun, the one being read included
  bool inField_ = false;
};

// What one look at the result file found.
struct Arrival {
  bool newRun = false;            // what follows begins a new run
  std::string_view text;          // records, in file order; valid until the next look
  std::size_t records = 0;        // the complete records in `text`
  std::vector<std::size_t> ends;  // where in `text` each ends, if the follower was asked
  // The run's data end with `text`, and the run ends there as the viewer's does: a pipe's writer
  // closed (`text` then holds all it wrote, a record cut short included), or a record grew beyond
  // what any record can be (`text` holds the records before it).
  bool closed = false;
  bool more = false;    // the look stopped early, more is there: look again
  std::string trouble;  // something newly wrong with the file, in a line; "" when nothing new
};

class ResultFollower {
 public:
  // Follows result.dat in `folder` ("." for the working folder), a regular file or a named pipe,
  // which may not exist yet. Watches it and the folder through `watch`; with `ends`, each arrival
  // says where its records end.
  ResultFollower(FileWatch& watch, const std::string& folder, std::size_t fieldsPerRecord,
                 bool ends = false);
  ~ResultFollower();
  ResultFollower(const ResultFollower&) = delete;
  ResultFollower& operator=(const ResultFollower&) = delete;

  // Whether an event of `watch` (FileWatch) is of this file or its folder, its writes and a
  // pipe's writer's close included: then look(). Where inotify cannot be had, look every so often.
  bool watches(int watch) const {
    return watch >= 0 && (watch == folderWatch_ || watch == fileWatch_);
  }
  // The file as messages name it: "result.dat", "study/motion-017/result.dat".
  const std::string& name() const { return name_; }
  // The named pipe being read, -1 for a regular file: readable when its writer wrote, which
  // inotify tells only once a whole write() is done, and a large one waits for the pipe to be
  // read. `opens()` changes with each file opened.
  int pipe() const { return pipe_ ? file_.get() : -1; }
  bool isPipe() const { return pipe_; }

  // The next look reads the file again from its start, as the same run: true; false for a named
  // pipe, which cannot be read again.
  bool rewind();
  unsigned opens() const { return opens_; }

  // Takes what the file holds now beyond what was read: a regular file's new bytes, a pipe's
  // data; notices a truncated or replaced file and a pipe whose writer left. Reads at most a few
  // megabytes at a time (`more` then says so), so that a long file already written does not hold
  // up everything else. A file that cannot be read is said in `trouble` once, and tried again at
  // the next look.
  Arrival look();
  // The last arrival has been taken: its text is no longer read, and the room a file read flat out
  // needed goes back.
  void settle();

  // The most a record cut short may hold before its run is given up: far more than any record of
  // `fieldsPerRecord` numbers as a program writes them.
  static std::size_t recordLimit(std::size_t fieldsPerRecord);

 private:
  bool open(Arrival& arrival);
  void restart(Arrival& arrival);
  void watchFile();
  bool truncated() const;
  bool read(Arrival& arrival, std::size_t& taken);
  void say(Arrival& arrival, const std::string& trouble);

  FileWatch& watch_;
  std::string name_;
  RecordCounter counter_;
  std::size_t recordLimit_;
  bool ends_;
  int folderWatch_ = -1, fileWatch_ = -1;
  UniqueFd file_;
  bool pipe_ = false;
  unsigned opens_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  long long offset_ = 0;      // bytes read of the regular file
  bool begun_ = false;        // bytes of the run were read from this file, or this pipe's writer
  bool pipeEnded_ = false;    // a pipe's writer left after a run: the next one's bytes begin one
  bool passingOver_ = false;  // a record grew too long: the rest of its run is not kept
  std::string said_;          // the trouble said last, until the file reads again
  // What was read: first what the last look passed on, then a record begun but not complete.
  ByteBuffer buffer_;
  std::size_t passed_ = 0;
};

}  // namespace companion
