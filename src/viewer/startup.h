// Start-up, window and projection.
#pragma once

// Opens the input files, waits for Enter, creates the window, registers the callbacks and enters
// the GLUT main loop, which does not come back.
int runViewer(int argc, char** argv);

// Reshape callback: one drawing unit is 100 pixels on both axes, the origin at the window centre.
void setProjection(int width, int height);

// GL state set once after the window exists: the white clear colour.
void initView();
