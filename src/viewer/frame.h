// The frame cycle: one call of the display callback is one step of the replay and one picture.
#pragma once

#include <cstddef>

#include "model/tables.h"

// Draws a record as the viewer shows it, with the state's tables, flags and scale: clear, base
// line, nodes, triangles, label, progress bar. The picture is left in the back buffer: the viewer
// swaps it to the screen, a recorder reads it back first.
void drawRecord(const ResultRecord& record);

// The display callback: advanceReplay (viewer/replay.h), drawRecord of the record shown, swap, and
// at the end of a run playback stops (and a rewind asks for the next redraw). Every redraw,
// whatever caused it, consumes one record.
void drawFrame();

// Right edge of the progress fill, in model units: -FW at t = 0, 0 at THALF, +FW at T_END.
double progressFillEdge(double t);

// The label under the model: "Progress :  Virtual:%lf[s]" with t, every digit of it. Writes into
// `text` (at least LABEL_CAPACITY bytes) and returns the length.
inline constexpr std::size_t LABEL_CAPACITY = 400;
std::size_t formatLabel(double t, char* text);
