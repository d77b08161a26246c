// A program run as a child process (ffmpeg, Xvfb), owned: it is ended and reaped when its owner
// goes, however that happens.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

#include "common/failure.h"

namespace companion {

// A program that could not be started: `error` is posix_spawn's, ENOENT when it is not installed.
class SpawnFailure : public Failure {
 public:
  SpawnFailure(const std::string& program, int error);
  int error;
};

class ChildProcess {
 public:
  // Starts argv[0], looked up on PATH, with argv. Descriptor k of the child is stdio[k] of this
  // process, or /dev/null where that is -1; it inherits no other descriptor. It runs in a process
  // group of its own, so that Ctrl-C at the terminal reaches this program alone, which then ends
  // the child itself, and with every signal at its default action and none blocked. Throws
  // SpawnFailure when it cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<int>& stdio,
               int stopSignal = SIGTERM);

  // Ends the child, if it has not been waited for: `stopSignal` to its process group, and SIGKILL
  // if it is still there after a second; then reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the child to end and returns its wait status. Throws Interrupted if a stop signal
  // comes meanwhile (the destructor then ends the child).
  int wait();

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stopSignal_;
};

// "exit status N" or the signal's name, from a wait status.
std::string describeStatus(int status);

}  // namespace companion
