// A recording stand-in for the GL and GLUT functions the viewer calls, linked into the in-process
// tests in place of the real libraries. It records what was drawn where, and playback's idle
// callback; the rest of GL's state (colours, sizes, fonts, the window) shows only in pixels,
// which the end-to-end tests look at.
#pragma once

#include <GL/glut.h>

#include <string>
#include <vector>

struct RecordedVertex {
  double x = 0.0, y = 0.0;
};

struct RecordedPrimitive {
  GLenum mode = 0;
  std::vector<RecordedVertex> vertices;
};

struct GlRecord {
  std::vector<RecordedPrimitive> primitives;
  int clears = 0, swaps = 0, redisplays = 0;
  double rasterPos[3] = {0, 0, 0};
  std::string text;  // every bitmap character drawn
  bool inBegin = false;

  void (*idle)() = nullptr;

  // Primitives of one mode, in drawing order.
  std::vector<const RecordedPrimitive*> of(GLenum mode) const;
};

extern GlRecord gl;

// Forgets everything recorded, including the idle callback.
void resetGl();
