// Child processes started with posix_spawn, ended and reaped by their owner.
#include "common/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/failure.h"
#include "common/signals.h"
#include "common/unique_fd.h"

extern char** environ;

namespace companion {

namespace {

// posix_spawn's attributes and file actions, destroyed on every path.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

// Descriptors at or above this are free of the child's numbers, so that putting one in place can
// never overwrite another that is still to be put in place.
constexpr int HIGH_DESCRIPTOR = 64;

}  // namespace

SpawnFailure::SpawnFailure(const std::string& program, int spawnError)
    : Failure(program + ": " + (spawnError == ENOENT ? "not found" : std::strerror(spawnError))),
      error(spawnError) {}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<int>& stdio,
                           int stopSignal)
    : stopSignal_(stopSignal) {
  SpawnSetup setup;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigfillset(&defaults);  // what this program ignores (SIGPIPE, SIGXFSZ) the child must not
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<UniqueFd> high;  // copies above the child's numbers, closed here after the spawn
  for (std::size_t k = 0; k < stdio.size(); ++k) {
    const int target = static_cast<int>(k);
    if (stdio[k] < 0) {
      posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_RDWR, 0);
      continue;
    }
    high.emplace_back(::fcntl(stdio[k], F_DUPFD_CLOEXEC, HIGH_DESCRIPTOR));
    if (high.back().get() < 0) throw SpawnFailure(argv[0], errno);
    posix_spawn_file_actions_adddup2(&setup.actions, high.back().get(), target);
  }
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, static_cast<int>(stdio.size()));

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int error =
      posix_spawnp(&pid_, args[0], &setup.actions, &setup.attributes, args.data(), environ);
  if (error != 0) {
    pid_ = -1;
    throw SpawnFailure(argv[0], error);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0) return;
  ::kill(-pid_, stopSignal_);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
  for (;;) {
    const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) return;
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(-pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

int ChildProcess::wait() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) throw systemFailure("waitpid", errno);
    throwIfInterrupted();
  }
  pid_ = -1;
  return status;
}

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return strsignal(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

}  // namespace companion
