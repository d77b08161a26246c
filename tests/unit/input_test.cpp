// The controls: from a fresh start, each sequence of mouse and key events leaves playback, the
// flags, the view scale and the redraws posted as the controls table says.
#include <gtest/gtest.h>

#include <vector>

#include "viewer/input.h"
#include "viewer_fixture.h"

namespace {

using InputTest = ViewerTest;

enum Kind { MOUSE, KEY, SPECIAL };
struct Event {
  Kind kind;
  int code;
  int buttonState = GLUT_DOWN;
};

std::vector<Event> times(int n, Event e) {
  return std::vector<Event>(static_cast<std::size_t>(n), e);
}

TEST_F(InputTest, EventsActAsTheControlsSay) {
  const Event left{MOUSE, GLUT_LEFT_BUTTON}, right{MOUSE, GLUT_RIGHT_BUTTON};
  const Event middle{MOUSE, GLUT_MIDDLE_BUTTON}, up{SPECIAL, GLUT_KEY_UP};
  const Event down{SPECIAL, GLUT_KEY_DOWN}, s{KEY, 's'}, r{KEY, 'r'};
  const double start = SCALE_INIT;
  const struct {
    std::vector<Event> events;
    bool running;
    int redisplays, nodes, elements, rewind, paused;
    double scale;
    const char* why;
  } rows[] = {
      // clang-format off
      {{left}, true, 0, 1, 1, 0, 0, start, "left down plays"},
      {{{MOUSE, GLUT_LEFT_BUTTON, GLUT_UP}}, true, 0, 1, 1, 0, 0, start, "left up plays too"},
      {{right}, true, 0, 1, 1, 0, 0, start, "right plays while held"},
      {{left, {MOUSE, GLUT_RIGHT_BUTTON, GLUT_UP}}, false, 0, 1, 1, 0, 0, start, "right up stops"},
      {{middle, {MOUSE, GLUT_MIDDLE_BUTTON, GLUT_UP}}, false, 1, 1, 1, 0, 0, start, "middle steps"},
      {{{MOUSE, 3}, {MOUSE, 4, GLUT_UP}, {MOUSE, 7}}, false, 0, 1, 1, 0, 0, start, "wheel: nothing"},
      {{{KEY, 'n'}, {KEY, 'n'}, {KEY, 'e'}}, false, 3, 1, 0, 0, 0, start, "n, e toggle, redraw"},
      {{r}, false, 0, 1, 1, 1, 0, start, "r waits for the next frame"},
      {{r, r}, false, 0, 1, 1, 0, 0, start, "r twice cancels itself"},
      {{{KEY, 'N'}, {KEY, 'E'}, {KEY, 'Q'}, {KEY, 'R'}, {KEY, 'S'}, {KEY, 'x'}, {KEY, 0}, {KEY, 255},
        {SPECIAL, GLUT_KEY_LEFT}, {SPECIAL, GLUT_KEY_F1}, {SPECIAL, 'n'}},
       false, 0, 1, 1, 0, 0, start, "upper case and other keys do nothing"},
      {{s}, false, 0, 1, 1, 0, 1, start, "the first s only pauses"},
      {{s, s}, true, 0, 1, 1, 0, 0, start, "the second s plays"},
      {{s, left, s}, true, 0, 1, 1, 0, 0, start, "s after the mouse played leaves it playing"},
      {{s, left, s, s}, false, 0, 1, 1, 0, 1, start, "and the next s stops"},
      {{up}, false, 1, 1, 1, 0, 0, start - SCALE_STEP, "up zooms in, redraws, apart from e"},
      {times(12, down), false, 12, 1, 1, 0, 0, 2 * start, "twelve downs double the scale"},
      {times(20, up), false, 20, 1, 1, 0, 0, SCALE_STEP, "up stops at half a step, redraws"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    resetViewer();
    for (const Event& e : row.events) {
      if (e.kind == MOUSE) onMouse(e.code, e.buttonState, 10, 20);
      if (e.kind == KEY) onKey(static_cast<unsigned char>(e.code), 0, 0);
      if (e.kind == SPECIAL) onSpecialKey(e.code, 0, 0);
    }
    EXPECT_EQ(gl.idle == onIdle, row.running);
    EXPECT_EQ(gl.redisplays, row.redisplays);
    EXPECT_EQ(state.showNodes, row.nodes);
    EXPECT_EQ(state.showElements, row.elements);
    EXPECT_EQ(state.rewindRequested, row.rewind);
    EXPECT_EQ(state.paused, row.paused);
    EXPECT_NEAR(state.viewScale, row.scale, 1e-12);
  }
  // The idle callback is playback: one redraw each time GLUT is idle. A flag holding anything
  // but 1 toggles to 1; the down arrow has no limit.
  resetViewer();
  onIdle();
  EXPECT_EQ(gl.redisplays, 1);
  state.showNodes = 2;
  onKey('n', 0, 0);
  EXPECT_EQ(state.showNodes, 1);
  for (int press = 0; press < 1000; ++press) onSpecialKey(GLUT_KEY_DOWN, 0, 0);
  EXPECT_NEAR(state.viewScale, SCALE_INIT + 1000 * SCALE_STEP, 1e-9);
}

TEST_F(InputTest, EscapeAndQuitEndTheProcessWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(onKey(27, 0, 0), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(onKey('q', 0, 0), testing::ExitedWithCode(0), "");
}

}  // namespace
