// Start-up of the viewer: its files, its console prompt, its window and its callbacks.
#pragma once

// All of start-up: the input files, the console prompt and the wait for Enter, the window
// (viewer/window.h), and the callbacks. Playback starts stopped.
void startViewer(int argc, char** argv);

// startViewer, then the GLUT main loop, which does not come back.
int runViewer(int argc, char** argv);
