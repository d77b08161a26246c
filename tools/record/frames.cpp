// Which records become frames, and how many each.
#include "record/frames.h"

#include <string>

#include "common/failure.h"

namespace companion {

namespace {

// Computed afresh from k rather than summed, so that rounding does not drift over a long run.
double frameTime(const FrameSchedule& s, long k) {
  return s.t0 + static_cast<double>(k) * s.speed / static_cast<double>(s.fps);
}

// Too long a hold is the speed's fault when a higher --speed would shorten it enough, and the
// data's when no speed would.
[[noreturn]] void failHold(const FrameSchedule& s, double t) {
  const std::string limit = std::to_string(MAX_HOLD_SECONDS) + " s";
  const std::string step = "from " + messageNumber(s.heldTime) + " s to " + messageNumber(t) + " s";
  if (t - s.heldTime <= static_cast<double>(MAX_HOLD_SECONDS) * MAX_SPEED) {
    throw Failure("--speed " + messageNumber(s.speed) + ": the time step " + step +
                  " would show one picture for " + messageNumber((t - s.heldTime) / s.speed) +
                  " s of video, more than " + limit + "; raise --speed, or use --every");
  }
  throw Failure("result.dat: the time jumps " + step + ", which would show one " +
                "picture for more than " + limit + " of video at any --speed; cut the run " +
                "with --to, or use --every");
}

}  // namespace

void startSchedule(FrameSchedule& s, double t0) {
  s.t0 = t0;
  s.heldTime = t0;
  s.records = 1;
}

long framesBefore(FrameSchedule& s, double t) {
  long n = 0;
  if (s.every > 0) {
    n = (s.records - 1) % s.every == 0 ? 1 : 0;
  } else {
    // Frames whose time lies before t still show the held record. Counting is cheap, so the
    // limit is checked before a single frame is drawn.
    const long limit = MAX_HOLD_SECONDS * s.fps;
    while (frameTime(s, s.frames + n) < t) {
      if (++n > limit) failHold(s, t);
    }
  }
  s.frames += n;
  s.heldTime = t;
  ++s.records;
  return n;
}

long framesAtEnd(FrameSchedule& s) {
  ++s.frames;
  return 1;
}

}  // namespace companion
