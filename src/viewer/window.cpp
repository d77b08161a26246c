// The viewer's window: opened, projected and cleared to white.
#include "viewer/window.h"

#include <GL/glut.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "model/display_settings.h"

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

// GL state set once after the window exists: the white clear colour.
void initView() {
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
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

void setProjection(int width, int height) {
  glViewport(0, 0, width, height);
  glLoadIdentity();
  // A minimised window has no extent; an orthographic box of zero width is invalid, so the matrix
  // stays identity until the next reshape brings a real size.
  if (width <= 0 || height <= 0) return;
  const double halfWidth = width / (2.0 * PIXELS_PER_UNIT);
  const double halfHeight = height / (2.0 * PIXELS_PER_UNIT);
  glOrtho(-halfWidth, halfWidth, -halfHeight, halfHeight, -1.0, 1.0);
}
