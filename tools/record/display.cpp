// A usable X display, or a private Xvfb in its place.
#include "display.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "companion.h"

extern char** environ;

namespace {

constexpr int XVFB_START_MS = 10000;

pid_t xvfb = -1;           // the private server, if one was started
Display* probe = nullptr;  // the connection that found the user's display answering

// The connection stays open until the window is closed: an X server that resets when its last
// client leaves (Xvfb without -noreset) would refuse GLUT's connection for a moment.
bool displayAnswers() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  probe = XOpenDisplay(nullptr);
  return probe != nullptr;
}

// Xvfb writes its display number, then a newline, into the descriptor given with -displayfd.
std::string readDisplayNumber(int fd) {
  std::string number;
  pollfd p{fd, POLLIN, 0};
  char c = 0;
  while (::poll(&p, 1, XVFB_START_MS) == 1 && ::read(fd, &c, 1) == 1 && c != '\n') number += c;
  return c == '\n' ? number : std::string();
}

}  // namespace

void ensureDisplay() {
  if (displayAnswers()) return;
  const char* previous = std::getenv("DISPLAY");
  const std::string was = previous != nullptr && *previous != '\0' ? previous : "unset";

  int fds[2];
  if (::pipe(fds) != 0) companion::fail(std::string("cannot start Xvfb: ") + std::strerror(errno));
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);  // only the write end goes to Xvfb
  const std::string fd = std::to_string(fds[1]);
  const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",    "0",
                        "1024x768x24", "-nolisten",  "tcp",      "-terminate", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int target : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_RDWR, 0);
  }
  // Its own process group: Ctrl-C at the terminal stops the recorder cleanly, which then
  // disconnects, and -terminate ends the server.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  const int error =
      posix_spawnp(&pid, "Xvfb", &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(fds[1]);
  if (error != 0) xvfb = -1;
  if (error == ENOENT) {
    companion::fail("no usable X display (DISPLAY " + was +
                    ") and no Xvfb to draw on instead: install Debian's xvfb package");
  }
  if (error != 0) companion::fail(std::string("cannot start Xvfb: ") + std::strerror(error));
  const std::string number = readDisplayNumber(fds[0]);
  ::close(fds[0]);
  if (number.empty()) {
    releaseDisplay();
    companion::fail("Xvfb did not start (no usable X display, DISPLAY " + was + ")");
  }
  ::setenv("DISPLAY", (":" + number).c_str(), 1);
  std::fprintf(stderr, "%s: no usable X display (DISPLAY %s): drawing on a private Xvfb, :%s\n",
               companion::programName().c_str(), was.c_str(), number.c_str());
}

void releaseDisplay() {
  if (probe != nullptr) XCloseDisplay(probe);
  probe = nullptr;
  if (xvfb <= 0) return;
  ::kill(xvfb, SIGTERM);
  ::waitpid(xvfb, nullptr, 0);
  xvfb = -1;
}
