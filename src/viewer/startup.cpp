// Start-up of the viewer: the input files, the console prompt, the window and its callbacks.
#include "viewer/startup.h"

#include <cstdio>

#include <GL/glut.h>

#include "model/viewer_state.h"
#include "viewer/console.h"
#include "viewer/frame.h"
#include "viewer/input.h"
#include "viewer/window.h"

void startViewer(int argc, char** argv) {
  // A file that cannot be opened is reported, once, and its stream stays absent; start-up goes on.
  const OpenedInputs opened = openInputs(state);
  for (bool ok : {opened.result, opened.nodes, opened.elements}) {
    if (!ok) printMessage(MSG_CANNOT_OPEN);
  }
  printMessage(MSG_PROMPT);
  (void)std::getchar();  // Enter, or the end of input, lets the viewer start
  openWindow(argc, argv);
  glutDisplayFunc(drawFrame);
  glutMouseFunc(onMouse);
  glutKeyboardFunc(onKey);
  glutSpecialFunc(onSpecialKey);
  // No idle callback: playback starts stopped, with the first record shown.
}

int runViewer(int argc, char** argv) {
  startViewer(argc, argv);
  glutMainLoop();
  return 0;
}
