// The progress line of a companion: on a terminal, one line on stderr rewritten in place.
#pragma once

#include <chrono>
#include <string>

namespace companion {

class Progress {
 public:
  // `unit` names what is counted: "steps", "frames". Shows nothing unless stderr is a terminal.
  Progress(std::string program, std::string unit);
  // Ends a line left open (a failure's message then starts on a line of its own).
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // "<program>: <records> records read, <done> <unit>, <rate> <unit>/s, about <s> s left", at most
  // ten times a second. `fraction` is the share of the input read, 0 when it is not known.
  void update(long records, long done, double fraction);

  // The last line, with the final counts whenever it was last shown, and a line break.
  void finish(long records, long done);

 private:
  using Clock = std::chrono::steady_clock;
  void show(long records, long done, double fraction);

  std::string program_, unit_;
  bool terminal_;
  bool open_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point shown_{};
};

}  // namespace companion
