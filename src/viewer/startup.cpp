// Start-up of the viewer: the input files, the console prompt and the GLUT window.
#include "viewer/startup.h"

#include <cstdio>

#include <GL/glut.h>

#include "model/viewer_state.h"
#include "viewer/console.h"
#include "viewer/frame.h"
#include "viewer/input.h"

namespace {

// A file that cannot be opened is reported and its stream stays absent; start-up goes on.
void openInput(InputStream& stream, const char* path) {
  if (!openStream(stream, path)) printMessage(MSG_CANNOT_OPEN);
}

}  // namespace

int runViewer(int argc, char** argv) {
  openInput(state.resultStream, "result.dat");
  openInput(state.nodeStream, "geodata.dat");
  openInput(state.elementStream, "tridata.dat");
  printMessage(MSG_PROMPT);
  (void)std::getchar();  // Enter, or the end of input, lets the viewer start

  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
  glutInitWindowPosition(200, 50);
  glutInitWindowSize(300, 300);
  glutCreateWindow(argc > 0 && argv[0] != nullptr ? argv[0] : "meshplay");
  glutReshapeFunc(setProjection);
  initView();
  glutDisplayFunc(drawFrame);
  glutMouseFunc(onMouse);
  glutKeyboardFunc(onKey);
  glutSpecialFunc(onSpecialKey);
  // No idle callback: playback starts stopped, with the first record shown.
  glutMainLoop();
  return 0;
}

void setProjection(int width, int height) {
  glViewport(0, 0, width, height);
  glLoadIdentity();
  // A minimised window has no extent; an orthographic box of zero width is invalid, so the matrix
  // stays identity until the next reshape brings a real size.
  if (width <= 0 || height <= 0) return;
  glOrtho(-width / 200.0, width / 200.0, -height / 200.0, height / 200.0, -1.0, 1.0);
}

void initView() {
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
}
