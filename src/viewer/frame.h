// The display callback: one call is one step of the replay.
#pragma once

#include <cstddef>

// Reads the next record, reports progress, ends the run if it is over, refreshes the tables from
// their streams and draws the frame. Every redraw, whatever caused it, consumes one record.
void drawFrame();

// The end-of-run test and, when the run has ended, its consequences: playback stops, the result
// file is reopened at its start, and a requested rewind shows the first record at once.
void endOfRun(double t, bool timeValid);

// The decision alone: the time was not read, is not a number or is below -1, or lies in
// [T_END, T_END + 1) (its integer part is T_END), or a rewind was requested.
bool runHasEnded(double t, bool timeValid, bool rewindRequested);

// Right edge of the progress fill, in model units: -FW at t = 0, 0 at THALF, +FW at T_END.
double progressFillEdge(double t);

// The label under the model: "Progress :  Virtual:%lf[s]" with t, every digit of it. Writes into
// `text` (at least LABEL_CAPACITY bytes) and returns the length.
inline constexpr std::size_t LABEL_CAPACITY = 400;
std::size_t formatLabel(double t, char* text);
