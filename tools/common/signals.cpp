// The signal watch: a thread that waits for the stop signals and wakes the main thread.
#include "common/signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "common/failure.h"

namespace companion {

namespace {

// The number of the stop signal that came, 0 until one does: the one value signals change.
std::atomic<int> stopSignal{0};
// The watch's eventfd, written once when the stop signal comes.
std::atomic<int> stopEvent{-1};

constexpr int WAKE_SIGNAL = SIGUSR1;
constexpr long WAKE_INTERVAL_NS = 50 * 1000 * 1000;

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  return set;
}

// Does nothing: its only effect is that the call the woken thread was blocked in returns EINTR.
void onWake(int) {}

void watch(const std::atomic<bool>* ending, pthread_t owner) {
  const sigset_t set = stopSignals();
  const timespec interval{0, WAKE_INTERVAL_NS};
  while (!*ending) {
    const int s = stopSignal != 0 ? -1 : sigtimedwait(&set, nullptr, &interval);
    if (s > 0) {
      stopSignal = s;
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t put = ::write(stopEvent, &one, sizeof one);
    }
    if (stopSignal == 0) continue;
    pthread_kill(owner, WAKE_SIGNAL);
    nanosleep(&interval, nullptr);
  }
}

}  // namespace

SignalWatch::SignalWatch() {
  struct sigaction wake {};
  wake.sa_handler = onWake;  // no SA_RESTART: blocking calls return EINTR
  sigemptyset(&wake.sa_mask);
  sigaction(WAKE_SIGNAL, &wake, nullptr);
  stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  watcher_ = std::thread(watch, &ending_, pthread_self());
}

SignalWatch::~SignalWatch() {
  ending_ = true;
  watcher_.join();
  if (stopEvent >= 0) ::close(stopEvent.exchange(-1));
}

bool interrupted() {
  return stopSignal != 0;
}

void throwIfInterrupted() {
  if (interrupted()) throw Interrupted();
}

int stopDescriptor() {
  return stopEvent;
}

const std::atomic<int>& stopFlag() {
  return stopSignal;
}

}  // namespace companion
