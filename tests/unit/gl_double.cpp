// The recording GL and GLUT double.
#include "gl_double.h"

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

void vertex(double x, double y) {
  if (!gl.primitives.empty()) gl.primitives.back().vertices.push_back({x, y});
}

}  // namespace

// freeglut's font handles are addresses of data symbols.
void* glutBitmapHelvetica18 = &glutBitmapHelvetica18;

extern "C" {
void glClear(GLbitfield) {
  ++gl.clears;
}
void glBegin(GLenum mode) {
  gl.primitives.push_back({mode, {}});
  gl.inBegin = true;
}
void glEnd() {
  gl.inBegin = false;
}
void glVertex2f(GLfloat x, GLfloat y) {
  vertex(x, y);
}
void glVertex2d(GLdouble x, GLdouble y) {
  vertex(x, y);
}
void glRasterPos3d(GLdouble x, GLdouble y, GLdouble z) {
  gl.rasterPos[0] = x;
  gl.rasterPos[1] = y;
  gl.rasterPos[2] = z;
}
void glutIdleFunc(void (*f)()) {
  gl.idle = f;
}
void glutPostRedisplay() {
  ++gl.redisplays;
}
void glutSwapBuffers() {
  ++gl.swaps;
}
void glutBitmapCharacter(void*, int c) {
  gl.text.push_back(static_cast<char>(c));
}

// Set-up and state that only the pixels show.
void glClearColor(GLfloat, GLfloat, GLfloat, GLfloat) {}
void glViewport(GLint, GLint, GLsizei, GLsizei) {}
void glLoadIdentity() {}
void glOrtho(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) {}
void glColor3d(GLdouble, GLdouble, GLdouble) {}
void glPointSize(GLfloat) {}
void glutInit(int*, char**) {}
void glutInitDisplayMode(unsigned int) {}
void glutInitWindowPosition(int, int) {}
void glutInitWindowSize(int, int) {}
int glutCreateWindow(const char*) {
  return 1;
}
void glutReshapeFunc(void (*)(int, int)) {}
void glutDisplayFunc(void (*)()) {}
void glutMouseFunc(void (*)(int, int, int, int)) {}
void glutKeyboardFunc(void (*)(unsigned char, int, int)) {}
void glutSpecialFunc(void (*)(int, int, int)) {}
void glutMainLoop() {}
}
