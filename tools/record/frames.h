// Which frames the recording holds: the records kept for drawing, and how many frames each gets.
#pragma once

#include "model/tables.h"

// A record with the tables the viewer held when it read it: node and element files may hold a
// block per frame, so a record drawn later is drawn with the tables of its own step.
struct Snapshot {
  ResultRecord record;
  NodeTable nodes{};
  ElementTable elements{};
};

// Copies the record just read, and the tables, from the viewer's state.
void takeSnapshot(Snapshot& snapshot);

// Longest stretch of video one record may fill: a jump in time (to 1e300, say) would otherwise
// hold one picture for ever. Longer, and the recording fails naming the two times.
inline constexpr long MAX_HOLD_SECONDS = 600;

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

// The first record: it is held, and the model-time frames count from its time.
void startSchedule(FrameSchedule& s, double t0);

// The next record, of time t, follows the one held: returns how many frames the held record gets,
// and holds the new one. A time that goes back, or is not a number, gets no frames of the one
// before; its own picture is held in their place. Fails when one record would fill more than
// MAX_HOLD_SECONDS of video.
long framesBefore(FrameSchedule& s, double t);

// The run has ended: the record held gets one frame, the last of the recording.
long framesAtEnd(FrameSchedule& s);
