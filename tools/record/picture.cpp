// The viewer's window: drawing a scene and reading it back.
#include "record/picture.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/failure.h"
#include "common/signals.h"
#include "model/display_settings.h"
#include "viewer/drawing.h"
#include "viewer/window.h"

namespace companion {

namespace {

constexpr auto SHOW_TIMEOUT = std::chrono::seconds(10);
constexpr std::size_t ROW_BYTES = 3 * WINDOW_SIZE;

// Frames are drawn by the recording loop, never on exposure; the first call says the window is
// up, through the flag the window carries as its data.
void onDisplay() {
  *static_cast<bool*>(glutGetWindowData()) = true;
}

// Whatever size a window manager gives the window, the picture is laid out for the viewer's size:
// the pixels read back are those of a 300 x 300 window.
void onReshape(int, int) {
  setProjection(WINDOW_SIZE, WINDOW_SIZE);
}

// Rows come bottom-up from glReadPixels; each is widened by repeating pixels, then repeated.
void enlarge(const std::vector<unsigned char>& pixels, long scale, Image& image) {
  const std::size_t s = static_cast<std::size_t>(scale);
  image.width = image.height = WINDOW_SIZE * static_cast<int>(scale);
  const std::size_t outRow = ROW_BYTES * s;
  image.rgb.resize(outRow * WINDOW_SIZE * s);
  for (std::size_t y = 0; y < WINDOW_SIZE; ++y) {
    const unsigned char* in = pixels.data() + (WINDOW_SIZE - 1 - y) * ROW_BYTES;
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

PictureWindow::PictureWindow(const char* title) : pixels_(ROW_BYTES * WINDOW_SIZE) {
  char* argv[] = {const_cast<char*>(title), nullptr};
  openWindow(1, argv);
  glutSetWindowData(&shown_);
  glutDisplayFunc(onDisplay);  // freeglut insists on one; the viewer's would consume records
  glutReshapeFunc(onReshape);
  try {
    const auto deadline = std::chrono::steady_clock::now() + SHOW_TIMEOUT;
    while (!shown_ && std::chrono::steady_clock::now() < deadline) {
      throwIfInterrupted();
      glutMainLoopEvent();
      if (!shown_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!shown_) throw Failure("the window did not show on the X display");
    const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
    if (width < WINDOW_SIZE || height < WINDOW_SIZE) {
      throw Failure("the window is " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels, smaller than the viewer's 300 x 300");
    }
  } catch (...) {
    glutExit();  // the destructor does not run for an object that was never made
    throw;
  }
  setProjection(WINDOW_SIZE, WINDOW_SIZE);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
}

PictureWindow::~PictureWindow() {
  glutExit();
}

void PictureWindow::draw(const Scene& scene, long scale, Image& image) {
  drawRecord(scene, DisplaySettings{});
  glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, pixels_.data());
  glutSwapBuffers();
  glutMainLoopEvent();  // keeps the connection serviced: a reshape lands in onReshape
  enlarge(pixels_, scale, image);
}

}  // namespace companion
