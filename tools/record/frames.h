// Which frames the recording holds: how many frames each record gets.
#pragma once

namespace companion {

// Longest stretch of video one record may fill: a jump in time (to 1e300, say) would otherwise
// hold one picture for ever. Longer, and the recording fails naming the two times.
inline constexpr long MAX_HOLD_SECONDS = 600;

// Model seconds per second of video: far enough either way for any use, and bounded, so that the
// times of frames stay ordinary numbers.
inline constexpr double MIN_SPEED = 1e-6;
inline constexpr double MAX_SPEED = 1e6;

// Frames of the recording so far. In model time (every == 0), frame k shows the last record whose
// time is at most t0 + k * speed / fps. With every == N, record i has a frame if i is a multiple
// of N, and the last record always has one.
struct FrameSchedule {
  long fps = 30;
  double speed = 1.0;
  long every = 0;
  double t0 = 0.0;        // the first record's time
  double heldTime = 0.0;  // the time of the record held for drawing
  long frames = 0;        // frames given out so far
  long records = 0;       // records taken so far
};

// The first record, at time t0, is held.
void startSchedule(FrameSchedule& s, double t0);

// The next record, at time t, has come: returns how many frames the held record gets, and holds
// the new one. Throws, naming --speed when a higher speed would do, or the two times when no speed
// would, if the held record would fill more than MAX_HOLD_SECONDS of video.
long framesBefore(FrameSchedule& s, double t);

// The run has ended: the record held gets one frame, the last of the recording.
long framesAtEnd(FrameSchedule& s);

}  // namespace companion
