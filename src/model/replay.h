// One step of the replay, apart from drawing and the console: what every redraw of the viewer does
// before it draws, and what a program without a window does for each step of a run.
#pragma once

#include "model/input_stream.h"
#include "model/tables.h"

// The three input files, read from the working directory, in the order start-up opens them.
inline constexpr const char* RESULT_FILE = "result.dat";
inline constexpr const char* NODE_FILE = "geodata.dat";
inline constexpr const char* ELEMENT_FILE = "tridata.dat";

// What a replay reads and holds.
struct Replay {
  InputStream resultStream;   // RESULT_FILE, closed and reopened at every end of run
  InputStream nodeStream;     // NODE_FILE, opened once, never rewound
  InputStream elementStream;  // ELEMENT_FILE, opened once, never rewound

  NodeTable nodeTable{};
  ElementTable elementTable{};

  // At every end of run the viewer closes RESULT_FILE and opens it again for the next run. A replay
  // whose records are handed to it in memory (a server following the file as a solver writes it)
  // has no file of its own to open again.
  bool reopensResult = true;

  // The last record whose time was read. The step that finds the end of the data has no record
  // of its own and shows this one again, so the last picture stays on screen.
  ResultRecord shownRecord{};
};

// What is shown at one step: a record, and the tables it is drawn with.
struct Scene {
  const ResultRecord& record;
  const NodeTable& nodes;
  const ElementTable& elements;
};

// What one step of the replay did, and what it shows (references into the replay, valid until
// its next step).
struct ReplayStep {
  Scene scene;
  bool read = false;          // a time was read: the scene holds a new record
  bool ended = false;         // the run ended here; the result file was closed (and reopened)
  bool rewound = false;       // it ended on a rewind, so the first record is to be shown at once
  bool reopenFailed = false;  // at that end, the result file could not be opened again
  int nodesRead = 0;          // complete node records this step read into the node table
  int elementsRead = 0;       // complete element records this step read into the element table
};

// Which of the three files opened; a file that did not has an absent stream.
struct OpenedInputs {
  bool result = false;
  bool nodes = false;
  bool elements = false;
};

// Opens RESULT_FILE, NODE_FILE and ELEMENT_FILE into the replay's streams, in that order.
OpenedInputs openInputs(Replay& replay);

// One step: reads the next record (at the end of the data it keeps the last one), ends the run if
// it is over, closing the result file and opening it again at its start (unless the replay does
// not reopen it), then refreshes the tables
// from their streams. Prints nothing and leaves playback to the caller.
ReplayStep advanceReplay(Replay& replay, bool rewindRequested);

// The end-of-run decision: the time was not read, is not a number or is below -1, or lies in
// [T_END, T_END + 1) (its integer part is T_END), or a rewind was requested.
bool runHasEnded(double t, bool timeValid, bool rewindRequested);
