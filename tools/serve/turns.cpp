// Turns at reading flat out.
#include "serve/turns.h"

#include "serve/follow.h"

namespace companion {

void ReadTurns::want(RunFollow* run, bool watched) {
  if (stopped_) return;
  std::deque<RunFollow*>& queue = watched ? watched_ : others_;
  if (run == looking_) {
    queue.push_front(run);
  } else {
    queue.push_back(run);
  }
  if (!posted_) next();
}

void ReadTurns::clear() {
  stopped_ = true;
  watched_.clear();
  others_.clear();
}

// One look a turn; the server's other work comes between two.
void ReadTurns::next() {
  posted_ = !watched_.empty() || !others_.empty();
  if (!posted_) return;
  net::post(io_, [this] {
    std::deque<RunFollow*>& queue = watched_.empty() ? others_ : watched_;
    if (queue.empty()) return;
    looking_ = queue.front();
    queue.pop_front();
    looking_->turn();
    looking_ = nullptr;
    next();
  });
}

}  // namespace companion
