// One step of the replay: read the next record, decide the end of the run, refresh the tables; and
// the opening of the files it reads. Nothing here draws, prints or touches GLUT, so programs
// without a window open and step the same replay.
#include "model/replay.h"

#include <cmath>

#include "model/readers.h"

OpenedInputs openInputs(Replay& replay) {
  OpenedInputs opened;
  opened.result = openStream(replay.resultStream, RESULT_FILE);
  opened.nodes = openStream(replay.nodeStream, NODE_FILE);
  opened.elements = openStream(replay.elementStream, ELEMENT_FILE);
  return opened;
}

bool runHasEnded(double t, bool timeValid, bool rewindRequested) {
  if (!timeValid || std::isnan(t) || t < -1.0) return true;
  // Compared in double precision: converting a time such as 1e300 to an integer is undefined.
  if (std::trunc(t) == static_cast<double>(T_END)) return true;
  return rewindRequested;
}

ReplayStep advanceReplay(Replay& replay, bool rewindRequested) {
  ReplayStep step{{replay.shownRecord, replay.nodeTable, replay.elementTable}};
  step.read = readResultRecord(replay.resultStream, replay.shownRecord);
  if (runHasEnded(replay.shownRecord.time(), step.read, rewindRequested)) {
    step.ended = true;
    step.rewound = rewindRequested;
    closeStream(replay.resultStream);
    if (replay.reopensResult) step.reopenFailed = !openStream(replay.resultStream, RESULT_FILE);
  }
  // Read on every step: a node or element file holding several blocks supplies the next one.
  step.nodesRead = readNodeBlock(replay.nodeStream, replay.nodeTable);
  step.elementsRead = readElementBlock(replay.elementStream, replay.elementTable);
  return step;
}
