// One step of the replay, apart from drawing: what every redraw does before it draws.
#pragma once

// What one step of the replay did.
struct ReplayStep {
  bool read = false;     // a time was read: state.shownRecord holds a new record
  bool ended = false;    // the run ended here; the result file is open again at its start
  bool rewound = false;  // it ended on a rewind, so the first record is to be shown at once
};

// Opens "result.dat", "geodata.dat" and "tridata.dat" into the state's streams, in that order,
// printing "file cannot open." for each one that fails; its stream stays absent.
void openInputs();

// One step of the replay: reads the next record into state.shownRecord (on the end of the data it
// keeps the last one), prints the console line, ends the run if it is over and refreshes the tables
// from their streams. Playback is left to the caller, so that programs without a window can step.
ReplayStep advanceReplay();

// The end-of-run test and, when the run has ended, what it does to the files: the result file is
// closed, "PRESS MOUSE BUTTON ON DISPLAY" printed, the file reopened at its start, a rewind request
// cleared.
ReplayStep endOfRun(double t, bool timeValid);

// The decision alone: the time was not read, is not a number or is below -1, or lies in
// [T_END, T_END + 1) (its integer part is T_END), or a rewind was requested.
bool runHasEnded(double t, bool timeValid, bool rewindRequested);
