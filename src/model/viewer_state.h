// The program-wide state of the viewer: one instance, reached directly by the GLUT callbacks.
#pragma once

#include <cstdint>

#include "model/display_settings.h"
#include "model/replay.h"

// The replay's streams and tables (model/replay.h), the display flags and the view scale
// (model/display_settings.h), and the two flags of the controls.
struct ViewerState : Replay, DisplaySettings {
  std::uint8_t rewindRequested = 0;  // end the run at the next frame and restart ('r')
  std::uint8_t paused = 0;           // the last 's' action: 1 after a stop, 0 after a start

  ViewerState();  // the initial values above (model/viewer_state.cpp says why it is not inline)
};

// The one instance, alive from before main until the process ends. Only the GLUT thread uses it.
extern ViewerState state;
