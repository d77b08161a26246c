// The viewer's window as a source of pictures: a record drawn by the viewer's own drawing step,
// read back before it reaches the screen.
#pragma once

#include <vector>

#include "frames.h"

// An RGB picture, 3 bytes a pixel, rows from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// Opens the viewer's window (title `title`, WINDOW_SIZE square, double-buffered) and waits until
// it has been shown once. Fails if it does not show, or shows smaller than the viewer's size.
void openPictureWindow(const char* title);

// Draws the snapshot as the viewer draws it, reads the back buffer and puts it on screen; `image`
// becomes the picture enlarged `scale` times by repeating pixels.
void drawPicture(Snapshot& snapshot, long scale, Image& image);

// Closes the window and the connection to the display.
void closePictureWindow();
