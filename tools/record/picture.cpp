// The viewer's window: drawing a record and reading it back.
#include "picture.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "companion.h"
#include "model/viewer_state.h"
#include "viewer/frame.h"
#include "viewer/startup.h"

namespace {

constexpr int SHOW_TIMEOUT_MS = 10000;
constexpr std::size_t ROW_BYTES = 3 * WINDOW_SIZE;

bool shown = false;
std::vector<unsigned char> backBuffer(ROW_BYTES* WINDOW_SIZE);

// Frames are drawn by the recording loop, never on exposure; the first call says the window is up.
void onDisplay() {
  shown = true;
}

// Whatever size a window manager gives the window, the picture is laid out for the viewer's size:
// the pixels read back are those of a 300 x 300 window.
void onReshape(int, int) {
  setProjection(WINDOW_SIZE, WINDOW_SIZE);
}

// Rows come bottom-up from glReadPixels; each is widened by repeating pixels, then repeated.
void enlarge(long scale, Image& image) {
  const std::size_t s = static_cast<std::size_t>(scale);
  image.width = image.height = WINDOW_SIZE * static_cast<int>(scale);
  const std::size_t outRow = ROW_BYTES * s;
  image.rgb.resize(outRow * WINDOW_SIZE * s);
  for (std::size_t y = 0; y < WINDOW_SIZE; ++y) {
    const unsigned char* in = backBuffer.data() + (WINDOW_SIZE - 1 - y) * ROW_BYTES;
    unsigned char* out = image.rgb.data() + y * s * outRow;
    if (s == 1) {
      std::memcpy(out, in, ROW_BYTES);
      continue;
    }
    for (std::size_t x = 0; x < WINDOW_SIZE; ++x) {
      for (std::size_t k = 0; k < s; ++k) std::memcpy(out + (x * s + k) * 3, in + x * 3, 3);
    }
    for (std::size_t k = 1; k < s; ++k) std::memcpy(out + k * outRow, out, outRow);
  }
}

}  // namespace

void openPictureWindow(const char* title) {
  char* argv[] = {const_cast<char*>(title), nullptr};
  openWindow(1, argv);
  glutDisplayFunc(onDisplay);  // freeglut insists on one; the viewer's would consume records
  glutReshapeFunc(onReshape);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(SHOW_TIMEOUT_MS);
  while (!shown && std::chrono::steady_clock::now() < deadline) {
    glutMainLoopEvent();
    if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!shown) companion::fail("the window did not show on the X display");
  const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
  if (width < WINDOW_SIZE || height < WINDOW_SIZE) {
    companion::fail("the window is " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels, smaller than the viewer's 300 x 300");
  }
  setProjection(WINDOW_SIZE, WINDOW_SIZE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
}

void drawPicture(Snapshot& snapshot, long scale, Image& image) {
  std::swap(state.nodeTable, snapshot.nodes);
  std::swap(state.elementTable, snapshot.elements);
  drawRecord(snapshot.record);
  std::swap(state.nodeTable, snapshot.nodes);
  std::swap(state.elementTable, snapshot.elements);
  glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, backBuffer.data());
  glutSwapBuffers();
  glutMainLoopEvent();  // keeps the connection serviced: a reshape lands in onReshape
  enlarge(scale, image);
}

void closePictureWindow() {
  glutExit();
}
