// The frame cycle: one call of the display callback is one step of the replay and one picture.
#pragma once

#include <cstddef>

#include "model/display_settings.h"
#include "model/replay.h"

// Draws a scene as the viewer shows it, with the given flags and scale: clear, base line, nodes,
// triangles, label, progress bar. The picture is left in the back buffer: the viewer swaps it to
// the screen, a recorder reads it back first.
void drawRecord(const Scene& scene, const DisplaySettings& display);

// The console lines of a step: its progress line, and at the end of a run the end message and,
// if the result file did not open again, the open failure.
void printStep(const ReplayStep& step);

// Shows a step in the window: a rewind request it acted on is cleared, the scene drawn with the
// state's settings and swapped to the screen; at the end of a run playback stops, and after a
// rewind the next redraw is asked for at once.
void showStep(const ReplayStep& step);

// The display callback: advanceReplay (model/replay.h), printStep, showStep. Every redraw,
// whatever caused it, consumes one record.
void drawFrame();

// Right edge of the progress fill, in model units: -FW at t = 0, 0 at THALF, +FW at T_END.
double progressFillEdge(double t);

// The label under the model: "Progress :  Virtual:%lf[s]" with t, every digit of it. Writes into
// `text` (at least LABEL_CAPACITY bytes) and returns the length.
inline constexpr std::size_t LABEL_CAPACITY = 400;
std::size_t formatLabel(double t, char* text);
