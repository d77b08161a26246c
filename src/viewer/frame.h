// The frame cycle: one call of the display callback is one step of the replay and one picture.
#pragma once

#include <cstddef>

#include "model/tables.h"

// What one step of the replay did.
struct ReplayStep {
  bool read = false;     // a time was read: state.shownRecord holds a new record
  bool ended = false;    // the run ended here; the result file is open again at its start
  bool rewound = false;  // it ended on a rewind, so the first record is to be shown at once
};

// One step of the replay: reads the next record into state.shownRecord (on the end of the data it
// keeps the last one), prints the console line, ends the run if it is over and refreshes the tables
// from their streams. Playback is left to the caller, so that programs without a window can step.
ReplayStep advanceReplay();

// Draws a record as the viewer shows it, with the state's tables, flags and scale: clear, base
// line, nodes, triangles, label, progress bar. The picture is left in the back buffer: the viewer
// swaps it to the screen, a recorder reads it back first.
void drawRecord(const ResultRecord& record);

// The display callback: advanceReplay, drawRecord of the record shown, swap, and at the end of a
// run playback stops (and a rewind asks for the next redraw). Every redraw, whatever caused it,
// consumes one record.
void drawFrame();

// The end-of-run test and, when the run has ended, what it does to the files: the result file is
// closed, "PRESS MOUSE BUTTON ON DISPLAY" printed, the file reopened at its start, a rewind request
// cleared.
ReplayStep endOfRun(double t, bool timeValid);

// The decision alone: the time was not read, is not a number or is below -1, or lies in
// [T_END, T_END + 1) (its integer part is T_END), or a rewind was requested.
bool runHasEnded(double t, bool timeValid, bool rewindRequested);

// Right edge of the progress fill, in model units: -FW at t = 0, 0 at THALF, +FW at T_END.
double progressFillEdge(double t);

// The label under the model: "Progress :  Virtual:%lf[s]" with t, every digit of it. Writes into
// `text` (at least LABEL_CAPACITY bytes) and returns the length.
inline constexpr std::size_t LABEL_CAPACITY = 400;
std::size_t formatLabel(double t, char* text);
