// The frame cycle: the display callback that steps the replay and shows its picture.
#include "viewer/frame.h"

#include <GL/glut.h>

#include "model/viewer_state.h"
#include "viewer/console.h"
#include "viewer/drawing.h"

void printStep(const ReplayStep& step) {
  printProgress(step.scene.record.time());
  if (step.ended) printMessage(MSG_END_OF_RUN);
  if (step.reopenFailed) printMessage(MSG_CANNOT_OPEN);
}

void showStep(const ReplayStep& step) {
  if (step.rewound) state.rewindRequested = 0;
  drawRecord(step.scene, state);
  glutSwapBuffers();
  // Both only take effect once the display callback has returned, so doing them last changes
  // nothing.
  if (step.ended) glutIdleFunc(nullptr);  // playback stops at the end of every run
  if (step.rewound) glutPostRedisplay();  // and after a rewind shows the first record at once
}

void drawFrame() {
  const ReplayStep step = advanceReplay(state, state.rewindRequested == 1);
  printStep(step);
  showStep(step);
}
