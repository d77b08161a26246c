// Stopping a companion on SIGINT, SIGTERM and SIGHUP, whatever it is doing at the time.
#pragma once

#include <atomic>
#include <thread>

namespace companion {

// While it lives, SIGINT, SIGTERM and SIGHUP are blocked in the thread that made it and in every
// thread started after, and a thread of its own waits for them. When one comes, interrupted()
// turns true and, every 50 ms until the watch ends, the thread that made the watch is woken from
// whatever call it is blocked in (a read from a pipe, a write to a child, a wait): the call
// returns EINTR, and the code there throws Interrupted. Waking it again and again closes the gap
// between looking at the flag and entering a blocking call. A program that waits on many
// descriptors at once, whose wait goes on after EINTR, waits on stopDescriptor() too.
class SignalWatch {
 public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  std::atomic<bool> ending_{false};
  std::thread watcher_;
};

// Whether a stop signal came.
bool interrupted();

// Throws Interrupted if a stop signal came.
void throwIfInterrupted();

// A descriptor that turns readable when a stop signal comes, and stays so; -1 while no watch
// lives. The watch owns it.
int stopDescriptor();

// The flag itself, non-zero once a stop signal came: streams given it (InputStream::stopOnSignal)
// end their data when a read is interrupted.
const std::atomic<int>& stopFlag();

}  // namespace companion
