// A usable X display, or a private Xvfb in its place.
#include "record/display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/failure.h"
#include "common/signals.h"
#include "common/unique_fd.h"

namespace companion {

namespace {

constexpr auto XVFB_START = std::chrono::seconds(10);

// Xvfb writes its display number, then a line break, into the descriptor given with -displayfd.
// Throws if it does not within XVFB_START, or closes the descriptor first (it ended); `was` is
// what DISPLAY held, for the message.
std::string readDisplayNumber(int fd, const std::string& was) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + XVFB_START;
  std::string number;
  pollfd p{fd, POLLIN, 0};
  while (Clock::now() < deadline) {
    throwIfInterrupted();
    const int ready = ::poll(&p, 1, 50);
    if (ready <= 0) continue;  // nothing yet, or a signal
    char c = 0;
    if (::read(fd, &c, 1) != 1 || (c == '\n' && number.empty())) break;
    if (c == '\n') return number;
    number += c;
  }
  throw Failure("Xvfb did not report its display within 10 s (no usable X display, DISPLAY " + was +
                ")");
}

}  // namespace

XDisplay::XDisplay(const Program& program) {
  const char* name = std::getenv("DISPLAY");
  if (name != nullptr && *name != '\0' && (probe_ = XOpenDisplay(nullptr)) != nullptr) return;
  const std::string was = name != nullptr && *name != '\0' ? name : "unset";

  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw Failure(std::string("cannot start Xvfb: ") + std::strerror(errno));
  }
  const UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);
  try {
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp", "-terminate"},
        std::vector<int>{-1, -1, -1, writeEnd.get()});
  } catch (const SpawnFailure& failure) {
    if (failure.error != ENOENT) throw;
    throw Failure("no usable X display (DISPLAY " + was +
                  ") and no Xvfb to draw on instead: install Debian's xvfb package");
  }
  writeEnd.reset();  // only Xvfb holds it now: its end reads as the end of the pipe
  const std::string number = readDisplayNumber(readEnd.get(), was);
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  std::fprintf(stderr, "%s: no usable X display (DISPLAY %s): drawing on a private Xvfb, :%s\n",
               program.name.c_str(), was.c_str(), number.c_str());
}

XDisplay::~XDisplay() {
  if (probe_ != nullptr) XCloseDisplay(probe_);
}

}  // namespace companion
