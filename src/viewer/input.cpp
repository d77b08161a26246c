// Input handling: each callback only changes the state, switches playback and posts redisplays.
#include "viewer/input.h"

#include <cstdlib>

#include <GL/glut.h>

#include "model/viewer_state.h"

namespace {

void startPlayback() {
  glutIdleFunc(onIdle);
}
void stopPlayback() {
  glutIdleFunc(nullptr);
}

}  // namespace

void onIdle() {
  glutPostRedisplay();
}

void onMouse(int button, int buttonState, int, int) {
  switch (button) {
    case GLUT_LEFT_BUTTON:  // a click plays on after the button is released
      startPlayback();
      break;
    case GLUT_RIGHT_BUTTON:  // plays while held
      if (buttonState == GLUT_DOWN) startPlayback();
      if (buttonState == GLUT_UP) stopPlayback();
      break;
    case GLUT_MIDDLE_BUTTON:  // one step while stopped; merges with a pending redisplay otherwise
      if (buttonState == GLUT_DOWN) glutPostRedisplay();
      break;
    default: break;
  }
}

void onKey(unsigned char key, int, int) {
  // Letters are lower case only: 'N', 'E', 'Q', 'R' and 'S' do nothing.
  switch (key) {
    case 27:
    case 'q': std::exit(0);
    case 'n':
      toggle(state.showNodes);
      glutPostRedisplay();
      break;
    case 'e':
      toggle(state.showElements);
      glutPostRedisplay();
      break;
    case 'r':  // takes effect at the next frame, whatever causes it
      toggle(state.rewindRequested);
      break;
    case 's':
      if (state.paused == 1) {
        state.paused = 0;
        startPlayback();
      } else {
        state.paused = 1;
        stopPlayback();
      }
      break;
    default: break;
  }
}

// The arrows arrive here and letters through onKey, so the up arrow and 'e' (both code 101) cannot
// be mistaken for each other.
void onSpecialKey(int key, int, int) {
  switch (key) {
    case GLUT_KEY_UP: {
      // Each press shrinks the scale by one step and so enlarges the picture. The twelfth step from
      // the initial scale would leave only rounding noise (about 2.6e-18) and then negative scales
      // that mirror the picture, so the scale never goes below half a step.
      const double smaller = state.viewScale - SCALE_STEP;
      if (smaller >= SCALE_STEP / 2.0) state.viewScale = smaller;
      glutPostRedisplay();
      break;
    }
    case GLUT_KEY_DOWN:
      state.viewScale += SCALE_STEP;
      glutPostRedisplay();
      break;
    default: break;
  }
}
