// Which records become frames, and how many each.
#include "frames.h"

#include <cstdio>
#include <string>

#include "companion.h"
#include "model/viewer_state.h"

void takeSnapshot(Snapshot& snapshot) {
  snapshot.record = state.shownRecord;
  snapshot.nodes = state.nodeTable;
  snapshot.elements = state.elementTable;
}

namespace {

// Computed afresh from k rather than summed, so that rounding does not drift over a long run.
double frameTime(const FrameSchedule& s, long k) {
  return s.t0 + static_cast<double>(k) * s.speed / static_cast<double>(s.fps);
}

[[noreturn]] void failHold(const FrameSchedule& s, double t) {
  char text[200];
  std::snprintf(text, sizeof text, "result.dat: the time jumps from %g s to %g s", s.heldTime, t);
  companion::fail(std::string(text) + ", which would show one picture for more than " +
                  std::to_string(MAX_HOLD_SECONDS) + " s of video; cut the run with --to, or " +
                  "use --every");
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
