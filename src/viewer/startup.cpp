// Start-up of the viewer: the input files, the console prompt and the GLUT window.
#include "viewer/startup.h"

#include <cstdio>

#include <GL/glut.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "model/viewer_state.h"
#include "viewer/console.h"
#include "viewer/frame.h"
#include "viewer/input.h"

namespace {

// Mesa's software renderer replaces its 512 KiB immediate-mode vertex buffer every few frames
// (every eight or nine in profile B) and frees the old one. At that size the C library maps every
// new buffer from the system and unmaps it when it is freed, so each new buffer's pages fault in
// afresh while the frame writes its vertices: a stall of a millisecond or more every few frames,
// a visibly uneven replay. Blocks below the largest threshold the C library accepts are served
// from the heap instead, and freed heap memory is kept for reuse (up to far more than a frame
// ever frees), so the driver gets the same pages back.
void keepFreedMemoryForReuse() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

}  // namespace

void openWindow(int argc, char** argv) {
  keepFreedMemoryForReuse();
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
  glutInitWindowPosition(200, 50);
  glutInitWindowSize(WINDOW_SIZE, WINDOW_SIZE);
  glutCreateWindow(argc > 0 && argv[0] != nullptr ? argv[0] : "meshplay");
  glutReshapeFunc(setProjection);
  initView();
}

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
