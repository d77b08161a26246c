// A recording stand-in for the GL and GLUT functions the viewer calls, linked into the in-process
// tests in place of the real libraries. It records what was drawn and which callbacks were set.
#pragma once

#include <GL/glut.h>

#include <string>
#include <vector>

struct RecordedVertex {
  double x = 0.0, y = 0.0;
  bool single = false;  // handed over with glVertex2f
  double color[3] = {0.0, 0.0, 0.0};
};

struct RecordedPrimitive {
  GLenum mode = 0;
  float pointSize = 1.0f;
  std::vector<RecordedVertex> vertices;
};

struct GlRecord {
  // Set-up, projection and registration calls in order, each with its arguments ("%.17g"), such
  // as "glutInitWindowSize 300 300".
  std::vector<std::string> calls;
  std::vector<RecordedPrimitive> primitives;
  double color[3] = {1.0, 1.0, 1.0};
  float pointSize = 1.0f;
  int clears = 0, swaps = 0, redisplays = 0;
  double rasterPos[3] = {0, 0, 0};
  double rasterColor[3] = {0, 0, 0};
  std::string text;  // every bitmap character drawn
  const void* font = nullptr;
  bool inBegin = false;

  void (*idle)() = nullptr;
  void (*display)() = nullptr;
  void (*reshape)(int, int) = nullptr;
  void (*mouse)(int, int, int, int) = nullptr;
  void (*keyboard)(unsigned char, int, int) = nullptr;
  void (*special)(int, int, int) = nullptr;

  // Primitives of one mode, in drawing order.
  std::vector<const RecordedPrimitive*> of(GLenum mode) const;
};

extern GlRecord gl;

// Forgets everything recorded, including the idle callback.
void resetGl();
