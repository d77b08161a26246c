// One step of the replay: read the next record, report it, decide the end of the run, refresh the
// tables; and the opening of the files it reads. Nothing here draws or touches GLUT, so programs
// without a window open and step the same replay.
#include "viewer/replay.h"

#include <cmath>

#include "model/readers.h"
#include "model/viewer_state.h"
#include "viewer/console.h"

namespace {

// A file that cannot be opened is reported and its stream stays absent; start-up goes on.
void openInput(InputStream& stream, const char* path) {
  if (!openStream(stream, path)) printMessage(MSG_CANNOT_OPEN);
}

}  // namespace

void openInputs() {
  openInput(state.resultStream, "result.dat");
  openInput(state.nodeStream, "geodata.dat");
  openInput(state.elementStream, "tridata.dat");
}

bool runHasEnded(double t, bool timeValid, bool rewindRequested) {
  if (!timeValid || std::isnan(t) || t < -1.0) return true;
  // Compared in double precision: converting a time such as 1e300 to an integer is undefined.
  if (std::trunc(t) == static_cast<double>(T_END)) return true;
  return rewindRequested;
}

ReplayStep endOfRun(double t, bool timeValid) {
  ReplayStep step;
  if (!runHasEnded(t, timeValid, state.rewindRequested == 1)) return step;
  step.ended = true;
  closeStream(state.resultStream);
  printMessage(MSG_END_OF_RUN);
  if (!openStream(state.resultStream, "result.dat")) printMessage(MSG_CANNOT_OPEN);
  if (state.rewindRequested == 1) {
    state.rewindRequested = 0;
    step.rewound = true;
  }
  return step;
}

ReplayStep advanceReplay() {
  ResultRecord& record = state.shownRecord;
  const bool timeValid = readResultRecord(state.resultStream, record);
  printProgress(record.time());
  ReplayStep step = endOfRun(record.time(), timeValid);
  step.read = timeValid;
  // Read on every frame: a node or element file holding several blocks supplies the next one.
  readNodeBlock(state.nodeStream, state.nodeTable);
  readElementBlock(state.elementStream, state.elementTable);
  return step;
}
