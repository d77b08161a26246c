// The viewer's window as a source of pictures: a scene drawn by the viewer's own drawing step,
// read back before it reaches the screen.
#pragma once

#include <vector>

#include "model/replay.h"
#include "record/image.h"

namespace companion {

class PictureWindow {
 public:
  // Opens the viewer's window (title `title`, 300 x 300, double-buffered) and waits until it has
  // been shown once. Throws if it does not show, or shows smaller than the viewer's window.
  explicit PictureWindow(const char* title);
  // Closes the window and GLUT's connection to the display.
  ~PictureWindow();
  PictureWindow(const PictureWindow&) = delete;
  PictureWindow& operator=(const PictureWindow&) = delete;

  // Draws the scene as the viewer draws it at its start (nodes and outlines shown, the initial
  // scale), reads the back buffer and puts it on screen; `image` becomes the picture enlarged
  // `scale` times by repeating pixels.
  void draw(const Scene& scene, long scale, Image& image);

 private:
  bool shown_ = false;  // set by the window's first display event
  std::vector<unsigned char> pixels_;
};

}  // namespace companion
