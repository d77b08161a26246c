// The program-wide state of the viewer: one instance, reached directly by the GLUT callbacks.
#pragma once

#include <cstdint>

#include "model/input_stream.h"
#include "model/profile.h"
#include "model/tables.h"

// Flags are bytes holding 0 or 1; toggling maps 1 to 0 and anything else to 1.
struct ViewerState {
  std::uint8_t showNodes = 1;        // draw the node points ('n')
  std::uint8_t showElements = 1;     // draw the triangle outlines ('e')
  std::uint8_t rewindRequested = 0;  // end the run at the next frame and restart ('r')
  std::uint8_t paused = 0;           // the last 's' action: 1 after a stop, 0 after a start
  double viewScale = SCALE_INIT;     // model length units per drawing unit (arrow keys)

  InputStream resultStream;   // "result.dat", closed and reopened at every end of run
  InputStream nodeStream;     // "geodata.dat", opened once, never rewound
  InputStream elementStream;  // "tridata.dat", opened once, never rewound

  NodeTable nodeTable{};
  ElementTable elementTable{};

  // The last record whose time was read. The frame that finds the end of the data has no record
  // of its own and shows this one again, so the last picture stays on screen.
  ResultRecord shownRecord{};
};

// The one instance, alive from before main until the process ends. Only the GLUT thread uses it.
extern ViewerState state;

inline void toggle(std::uint8_t& flag) {
  flag = (flag == 1) ? 0 : 1;
}
