// The picture of one record: base line, nodes, triangles, label and progress bar.
#include "viewer/drawing.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include <GL/glut.h>

namespace {

constexpr double BAR_RED = 0.0, BAR_GREEN = 1.0, BAR_BLUE = 0.5;

// "%lf" writes every integer digit: at most DBL_MAX_10_EXP + 1 of them, a sign, a point and six
// decimals, after the 20 characters of the prefix and before "[s]".
static_assert(LABEL_CAPACITY > 20 + 1 + (DBL_MAX_10_EXP + 1) + 1 + 6 + 3,
              "the label holds the longest time %lf can print");

// Single-precision vertices for the base line and the nodes. A coordinate beyond float's range is
// far outside the window either way; clamping keeps the conversion defined.
inline float toFloat(double v) {
  constexpr double LIMIT = std::numeric_limits<float>::max();
  if (v > LIMIT) return std::numeric_limits<float>::max();
  if (v < -LIMIT) return -std::numeric_limits<float>::max();
  return static_cast<float>(v);
}

// Drawing coordinates of node i displaced by pair i of the record, grid centre at the origin.
// Callers pass an index already known to lie in 0 ... NODE_COUNT - 1.
inline void nodePoint(int i, const Scene& scene, double s, double& x, double& y) {
  const NodePosition& rest = scene.nodes[static_cast<std::size_t>(i)];
  x = (rest.x + scene.record.vectors[i][0] - HW) / s;
  y = (rest.y + scene.record.vectors[i][1] - HH) / s;
}

void drawBaseLine(double s) {
  glBegin(GL_LINES);
  glColor3d(0.0, 0.0, 0.0);  // stays current for the nodes, triangles and label
  glVertex2f(toFloat(-FW / s), toFloat(-HH / s));
  glVertex2f(toFloat(FW / s), toFloat(-HH / s));
  glEnd();
}

void drawNodes(const Scene& scene, double s) {
  glPointSize(4.0f);
  glBegin(GL_POINTS);
  for (int i = 0; i < NODE_COUNT; ++i) {
    double x, y;
    nodePoint(i, scene, s, x, y);
    glVertex2f(toFloat(x), toFloat(y));
  }
  glEnd();
}

void drawTriangles(const Scene& scene, double s) {
  for (const Element& element : scene.elements) {
    if (!isDrawn(element)) continue;
    glBegin(GL_LINE_LOOP);
    for (std::int32_t node : element.nodes) {
      double x, y;
      nodePoint(node, scene, s, x, y);
      glVertex2d(x, y);
    }
    glEnd();
  }
}

void drawLabel(double t, double s) {
  char text[LABEL_CAPACITY];
  const std::size_t length = formatLabel(t, text);
  glRasterPos3d(-FW / s, -YLABEL / s, 0.0);
  for (std::size_t i = 0; i < length; ++i) {
    glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, static_cast<unsigned char>(text[i]));
  }
}

void drawProgressBar(double t, double s) {
  const double xf = progressFillEdge(t);
  glColor3d(BAR_RED, BAR_GREEN, BAR_BLUE);  // the frame and its fill
  glBegin(GL_LINE_LOOP);
  glVertex2d(-FW / s, -YTOP / s);
  glVertex2d(FW / s, -YTOP / s);
  glVertex2d(FW / s, -YBOT / s);
  glVertex2d(-FW / s, -YBOT / s);
  glEnd();
  glBegin(GL_QUADS);
  glVertex2d(-FW / s, -YTOP / s);
  glVertex2d(xf / s, -YTOP / s);
  glVertex2d(xf / s, -YBOT / s);
  glVertex2d(-FW / s, -YBOT / s);
  glEnd();
}

}  // namespace

double progressFillEdge(double t) {
  return -(1.0 - t / THALF) * FW;
}

std::size_t formatLabel(double t, char* text) {
  const int length = std::snprintf(text, LABEL_CAPACITY, "Progress :  Virtual:%lf[s]", t);
  if (length < 0) return 0;
  return static_cast<std::size_t>(length) < LABEL_CAPACITY ? static_cast<std::size_t>(length)
                                                           : LABEL_CAPACITY - 1;
}

void drawRecord(const Scene& scene, const DisplaySettings& display) {
  const double s = display.viewScale;
  const double t = scene.record.time();
  glClear(GL_COLOR_BUFFER_BIT);
  drawBaseLine(s);
  if (display.showNodes == 1) drawNodes(scene, s);
  if (display.showElements == 1) drawTriangles(scene, s);
  drawLabel(t, s);
  drawProgressBar(t, s);
}
