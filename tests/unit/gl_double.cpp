// The recording GL and GLUT double.
#include "gl_double.h"

#include <cstring>

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
void vertex(double x, double y, bool single) {
  RecordedVertex v;
  v.x = x;
  v.y = y;
  v.single = single;
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
  gl.clearColor[0] = r;
  gl.clearColor[1] = g;
  gl.clearColor[2] = b;
  gl.clearColor[3] = a;
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  gl.viewport[0] = x;
  gl.viewport[1] = y;
  gl.viewport[2] = w;
  gl.viewport[3] = h;
}
void glLoadIdentity() {
  for (double& v : gl.ortho) v = 0.0;
}
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  const double v[6] = {l, r, b, t, n, f};
  std::memcpy(gl.ortho, v, sizeof v);
  ++gl.orthoCalls;
}
void glBegin(GLenum mode) {
  RecordedPrimitive p;
  p.mode = mode;
  p.pointSize = gl.pointSize;
  gl.primitives.push_back(p);
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
  gl.calls.push_back("glutInit");
}
void glutInitDisplayMode(unsigned int mode) {
  gl.displayMode = mode;
  gl.calls.push_back("glutInitDisplayMode");
}
void glutInitWindowPosition(int x, int y) {
  gl.position[0] = x;
  gl.position[1] = y;
  gl.calls.push_back("glutInitWindowPosition");
}
void glutInitWindowSize(int w, int h) {
  gl.size[0] = w;
  gl.size[1] = h;
  gl.calls.push_back("glutInitWindowSize");
}
int glutCreateWindow(const char* title) {
  gl.title = title;
  gl.calls.push_back("glutCreateWindow");
  return 1;
}
void glutReshapeFunc(void (*f)(int, int)) {
  gl.reshape = f;
  gl.calls.push_back("glutReshapeFunc");
}
void glutDisplayFunc(void (*f)()) {
  gl.display = f;
  gl.calls.push_back("glutDisplayFunc");
}
void glutMouseFunc(void (*f)(int, int, int, int)) {
  gl.mouse = f;
  gl.calls.push_back("glutMouseFunc");
}
void glutKeyboardFunc(void (*f)(unsigned char, int, int)) {
  gl.keyboard = f;
  gl.calls.push_back("glutKeyboardFunc");
}
void glutSpecialFunc(void (*f)(int, int, int)) {
  gl.special = f;
  gl.calls.push_back("glutSpecialFunc");
}
void glutIdleFunc(void (*f)()) {
  gl.idle = f;
}
void glutMainLoop() {
  gl.calls.push_back("glutMainLoop");
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
