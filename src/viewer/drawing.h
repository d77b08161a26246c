// The picture of one record, apart from the window's callbacks and the viewer's state: what a
// program that only draws (the recorder) takes, and what the display callback draws with.
#pragma once

#include <cstddef>

#include "model/display_settings.h"
#include "model/replay.h"

// Draws a scene as the viewer shows it, with the given flags and scale: clear, base line, nodes,
// triangles, label, progress bar. The picture is left in the back buffer: the viewer swaps it to
// the screen, a recorder reads it back first.
void drawRecord(const Scene& scene, const DisplaySettings& display);

// Right edge of the progress fill, in model units: -FW at t = 0, 0 at THALF, +FW at T_END.
double progressFillEdge(double t);

// The label under the model: "Progress :  Virtual:%lf[s]" with t, every digit of it. Writes into
// `text` (at least LABEL_CAPACITY bytes) and returns the length.
inline constexpr std::size_t LABEL_CAPACITY = 400;
std::size_t formatLabel(double t, char* text);
