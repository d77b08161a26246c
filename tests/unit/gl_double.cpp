// The recording GL and GLUT double.
#include "gl_double.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

GlRecord gl;

void resetGl() {
  gl = GlRecord{};
}

std::vector<const RecordedPrimitive*> GlRecord::of(GLenum mode) const {
  std::vector<const RecordedPrimitive*> found;
  for (const auto& p : primitives) {
    if (p.mode == mode) found.push_back(&p);
  }
  return found;
}

namespace {

void call(const char* name, std::initializer_list<double> arguments = {}) {
  std::string text = name;
  for (double a : arguments) {
    char number[32];
    std::snprintf(number, sizeof number, " %.17g", a);
    text += number;
  }
  gl.calls.push_back(text);
}

void vertex(double x, double y, bool single) {
  RecordedVertex v{x, y, single, {}};
  std::memcpy(v.color, gl.color, sizeof v.color);
  if (!gl.primitives.empty()) gl.primitives.back().vertices.push_back(v);
}

}  // namespace

// freeglut's font handles are addresses of data symbols.
void* glutBitmapHelvetica18 = &glutBitmapHelvetica18;

extern "C" {
void glClear(GLbitfield) {
  ++gl.clears;
}
void glClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
  call("glClearColor", {r, g, b, a});
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  call("glViewport", {double(x), double(y), double(w), double(h)});
}
void glLoadIdentity() {
  call("glLoadIdentity");
}
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  call("glOrtho", {l, r, b, t, n, f});
}
void glBegin(GLenum mode) {
  gl.primitives.push_back({mode, gl.pointSize, {}});
  gl.inBegin = true;
}
void glEnd() {
  gl.inBegin = false;
}
void glVertex2f(GLfloat x, GLfloat y) {
  vertex(x, y, true);
}
void glVertex2d(GLdouble x, GLdouble y) {
  vertex(x, y, false);
}
void glColor3d(GLdouble r, GLdouble g, GLdouble b) {
  gl.color[0] = r;
  gl.color[1] = g;
  gl.color[2] = b;
}
void glPointSize(GLfloat size) {
  gl.pointSize = size;
}
void glRasterPos3d(GLdouble x, GLdouble y, GLdouble z) {
  gl.rasterPos[0] = x;
  gl.rasterPos[1] = y;
  gl.rasterPos[2] = z;
  std::memcpy(gl.rasterColor, gl.color, sizeof gl.rasterColor);
}

void glutInit(int*, char**) {
  call("glutInit");
}
void glutInitDisplayMode(unsigned int mode) {
  call("glutInitDisplayMode", {double(mode)});
}
void glutInitWindowPosition(int x, int y) {
  call("glutInitWindowPosition", {double(x), double(y)});
}
void glutInitWindowSize(int w, int h) {
  call("glutInitWindowSize", {double(w), double(h)});
}
int glutCreateWindow(const char* title) {
  gl.calls.push_back(std::string("glutCreateWindow ") + title);
  return 1;
}
void glutReshapeFunc(void (*f)(int, int)) {
  gl.reshape = f;
  call("glutReshapeFunc");
}
void glutDisplayFunc(void (*f)()) {
  gl.display = f;
  call("glutDisplayFunc");
}
void glutMouseFunc(void (*f)(int, int, int, int)) {
  gl.mouse = f;
  call("glutMouseFunc");
}
void glutKeyboardFunc(void (*f)(unsigned char, int, int)) {
  gl.keyboard = f;
  call("glutKeyboardFunc");
}
void glutSpecialFunc(void (*f)(int, int, int)) {
  gl.special = f;
  call("glutSpecialFunc");
}
void glutIdleFunc(void (*f)()) {
  gl.idle = f;
}
void glutMainLoop() {
  call("glutMainLoop");
}
void glutPostRedisplay() {
  ++gl.redisplays;
}
void glutSwapBuffers() {
  ++gl.swaps;
}
void glutBitmapCharacter(void* font, int c) {
  gl.font = font;
  gl.text.push_back(static_cast<char>(c));
}
}
