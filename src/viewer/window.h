// The viewer's window and its projection, apart from the callbacks that play a run in it: what a
// program that only draws (the recorder) opens, and what start-up opens for the viewer.
#pragma once

// The window's width and height in pixels when it opens.
inline constexpr int WINDOW_SIZE = 300;

// Initialises GLUT with the command line, opens the double-buffered RGB window of WINDOW_SIZE at
// (200, 50) titled argv[0], and sets the projection and the clear colour. Freed memory is kept
// for reuse from then on, so that the GL driver's buffers do not fault in afresh every few frames.
void openWindow(int argc, char** argv);

// Reshape callback: one drawing unit is PIXELS_PER_UNIT pixels on both axes
// (model/display_settings.h), the origin at the window centre.
void setProjection(int width, int height);
