// One inotify instance for every file and folder a server follows: the system allows few
// instances to a user (128 by default), and a study follows hundreds of runs.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "common/unique_fd.h"

namespace companion {

class FileWatch {
 public:
  FileWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

  // Readable when something watched changed; -1 where inotify cannot be had.
  int fd() const { return fd_.get(); }

  // Watches `path` for `events`; its watch descriptor, -1 if it cannot be watched.
  int add(const std::string& path, std::uint32_t events) {
    return fd_.get() < 0 ? -1 : ::inotify_add_watch(fd_.get(), path.c_str(), events);
  }
  void remove(int watch) {
    if (fd_.get() >= 0 && watch >= 0) ::inotify_rm_watch(fd_.get(), watch);
  }

  // Reads every event waiting and calls `changed` with the watch of each.
  void drain(const std::function<void(int watch)>& changed) {
    alignas(inotify_event) char events[8192];
    for (;;) {
      const ssize_t got = fd_.get() < 0 ? -1 : ::read(fd_.get(), events, sizeof events);
      if (got <= 0) return;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        changed(event->wd);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  UniqueFd fd_;
};

}  // namespace companion
