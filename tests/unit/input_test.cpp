// The controls: the playback state machine, the display toggles, rewind, zoom and quit.
#include <gtest/gtest.h>

#include <string>

#include "viewer/input.h"
#include "viewer_fixture.h"

namespace {

using InputTest = ViewerTest;

bool running() {
  return gl.idle == onIdle;
}

TEST_F(InputTest, MouseButtonsStartStopAndStep) {
  const struct {
    int button, buttonState;
    bool fromRunning, toRunning;
    int redisplays;
    const char* why;
  } rows[] = {
      {GLUT_LEFT_BUTTON, GLUT_DOWN, false, true, 0, "left down plays"},
      {GLUT_LEFT_BUTTON, GLUT_UP, false, true, 0, "left up plays too"},
      {GLUT_LEFT_BUTTON, GLUT_UP, true, true, 0, "left release keeps playing"},
      {GLUT_RIGHT_BUTTON, GLUT_DOWN, false, true, 0, "right held plays"},
      {GLUT_RIGHT_BUTTON, GLUT_UP, true, false, 0, "right release stops"},
      {GLUT_RIGHT_BUTTON, GLUT_UP, false, false, 0, "right release while stopped"},
      {GLUT_MIDDLE_BUTTON, GLUT_DOWN, false, false, 1, "middle steps once"},
      {GLUT_MIDDLE_BUTTON, GLUT_DOWN, true, true, 1, "middle while running"},
      {GLUT_MIDDLE_BUTTON, GLUT_UP, false, false, 0, "middle up does nothing"},
      {3, GLUT_DOWN, true, true, 0, "wheel up does nothing"},
      {4, GLUT_UP, false, false, 0, "wheel down does nothing"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    resetGl();
    gl.idle = row.fromRunning ? onIdle : nullptr;
    onMouse(row.button, row.buttonState, 10, 20);
    EXPECT_EQ(running(), row.toRunning);
    EXPECT_EQ(gl.redisplays, row.redisplays);
    EXPECT_EQ(state.paused, 0);  // the mouse never touches the pause toggle
  }
  resetGl();
  onIdle();
  EXPECT_EQ(gl.redisplays, 1);
}

TEST_F(InputTest, KeysToggleTheirFlagsAndOnlyLowerCaseCounts) {
  onKey('n', 0, 0);
  EXPECT_EQ(state.showNodes, 0);
  EXPECT_EQ(gl.redisplays, 1);
  onKey('n', 0, 0);
  EXPECT_EQ(state.showNodes, 1);
  onKey('e', 0, 0);
  EXPECT_EQ(state.showElements, 0);
  EXPECT_EQ(gl.redisplays, 3);

  state.showNodes = 2;  // a flag holding anything but 1 toggles to 1
  onKey('n', 0, 0);
  EXPECT_EQ(state.showNodes, 1);

  onKey('r', 0, 0);  // a rewind waits for the next frame, whatever causes it
  EXPECT_EQ(state.rewindRequested, 1);
  EXPECT_EQ(gl.redisplays, 4);
  onKey('r', 0, 0);  // and twice cancels itself
  EXPECT_EQ(state.rewindRequested, 0);

  resetViewer();
  const int ignored[] = {'N', 'E', 'Q', 'R', 'S', 'x', ' ', '\r', 0, 255};
  for (int key : ignored) {
    SCOPED_TRACE(key);
    onKey(static_cast<unsigned char>(key), 0, 0);
    EXPECT_EQ(state.showNodes, 1);
    EXPECT_EQ(state.showElements, 1);
    EXPECT_EQ(state.rewindRequested, 0);
    EXPECT_EQ(state.paused, 0);
    EXPECT_EQ(gl.redisplays, 0);
    EXPECT_FALSE(running());
  }
}

TEST_F(InputTest, PauseToggleFollowsItsLastAction) {
  // The first 's' after start-up: playback is already stopped, only the toggle changes.
  onKey('s', 0, 0);
  EXPECT_EQ(state.paused, 1);
  EXPECT_FALSE(running());
  onKey('s', 0, 0);
  EXPECT_EQ(state.paused, 0);
  EXPECT_TRUE(running());

  // Stop with 's', restart with the mouse: the next 's' leaves playback running, the one after
  // stops it.
  onKey('s', 0, 0);
  EXPECT_FALSE(running());
  onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
  EXPECT_TRUE(running());
  onKey('s', 0, 0);
  EXPECT_EQ(state.paused, 0);
  EXPECT_TRUE(running());
  onKey('s', 0, 0);
  EXPECT_EQ(state.paused, 1);
  EXPECT_FALSE(running());
  EXPECT_EQ(gl.redisplays, 0);
}

TEST_F(InputTest, ArrowsZoomAndTheUpArrowStopsAtHalfAStep) {
  // The up arrow and 'e' share code 101 but arrive through different callbacks.
  onSpecialKey(GLUT_KEY_UP, 0, 0);
  EXPECT_EQ(state.showElements, 1);
  EXPECT_NEAR(state.viewScale, SCALE_INIT - SCALE_STEP, 1e-12);
  onKey('e', 0, 0);
  EXPECT_NEAR(state.viewScale, SCALE_INIT - SCALE_STEP, 1e-12);

  resetViewer();
  for (int press = 1; press <= 20; ++press) {
    SCOPED_TRACE(press);
    onSpecialKey(GLUT_KEY_UP, 0, 0);
    EXPECT_GE(state.viewScale, SCALE_STEP / 2.0);
    EXPECT_EQ(gl.redisplays, press);  // refused presses redraw too
  }
  EXPECT_NEAR(state.viewScale, SCALE_STEP, 1e-12);  // at most twelvefold

  resetViewer();
  for (int press = 0; press < 12; ++press) onSpecialKey(GLUT_KEY_DOWN, 0, 0);
  EXPECT_NEAR(state.viewScale, 2.0 * SCALE_INIT, 1e-12);
  for (int press = 0; press < 1000; ++press) onSpecialKey(GLUT_KEY_DOWN, 0, 0);
  EXPECT_NEAR(state.viewScale, 2.0 * SCALE_INIT + 1000 * SCALE_STEP, 1e-9);

  resetViewer();
  const int others[] = {GLUT_KEY_LEFT, GLUT_KEY_RIGHT, GLUT_KEY_F1, GLUT_KEY_PAGE_UP, 'n'};
  for (int key : others) {
    onSpecialKey(key, 0, 0);
  }
  EXPECT_EQ(state.viewScale, SCALE_INIT);
  EXPECT_EQ(state.showNodes, 1);
  EXPECT_EQ(state.showElements, 1);
  EXPECT_EQ(gl.redisplays, 0);
}

TEST_F(InputTest, EscapeAndQuitEndTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(onKey(27, 0, 0), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(onKey('q', 0, 0), testing::ExitedWithCode(0), "");
}

}  // namespace
