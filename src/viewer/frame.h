// The frame cycle: one call of the display callback is one step of the replay and one picture.
#pragma once

#include "model/replay.h"

// The console lines of a step: its progress line, and at the end of a run the end message and,
// if the result file did not open again, the open failure.
void printStep(const ReplayStep& step);

// Shows a step in the window: a rewind request it acted on is cleared, the scene drawn with the
// state's settings (viewer/drawing.h) and swapped to the screen; at the end of a run playback
// stops, and after a rewind the next redraw is asked for at once.
void showStep(const ReplayStep& step);

// The display callback: advanceReplay (model/replay.h), printStep, showStep. Every redraw,
// whatever caused it, consumes one record.
void drawFrame();
