// The frame cycle: the end of a run, the reopen, rewind, and what is drawn where.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/replay.h"
#include "viewer/drawing.h"
#include "viewer/frame.h"
#include "viewer/input.h"
#include "viewer_fixture.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
const std::string END = "PRESS MOUSE BUTTON ON DISPLAY\r";

using FrameTest = ViewerTest;

TEST(EndOfRun, Boundaries) {
  const struct {
    double t;
    bool timeValid, rewind, ends;
    const char* why;
  } rows[] = {
      // clang-format off
      {0.0, true, false, false, "start of the run"},
      {T_END - 0.01, true, false, false, "just before the end time"},
      {T_END, true, false, true, "the end time"},
      {T_END + 0.7, true, false, true, "integer part is the end time"},
      {T_END + 1.0, true, false, false, "beyond: a jump over the end time runs on"},
      {-1.0, true, false, false, "-1 is an ordinary time"}, {-1.01, true, false, true, "below -1"},
      {NaN, true, false, true, "not a number"}, {-INF, true, false, true, "minus infinity"},
      {INF, true, false, false, "plus infinity"}, {1e300, true, false, false, "beyond any int"},
      {0.0, false, false, true, "time not read"}, {3.0, true, true, true, "rewind requested"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(runHasEnded(row.t, row.timeValid, row.rewind), row.ends);
  }
}

// Runs while playing: each frame prints its time, and the label shows the same; a frame that ends
// the run stops playback and prints the end message, a rewind also asks for the next redraw; the
// frame after an end shows the first record again.
TEST_F(FrameTest, RunsEndAtTheEndTimeTheEndOfTheDataOrARewind) {
  const std::string end = END;
  const struct {
    std::string results;
    int rewindAt;  // the frame before which 'r' is pressed, or -1
    std::vector<std::pair<double, std::string>> frames;
  } rows[] = {
      {times({0.0, T_END - 0.01, T_END + 0.5, 99.0}),
       -1,
       {{0.0, ""}, {T_END - 0.01, ""}, {T_END + 0.5, end}, {0.0, ""}}},
      {times({T_END - 0.5, T_END + 1.0}),
       -1,  // a jump over the end time runs on to the data's end
       {{T_END - 0.5, ""}, {T_END + 1.0, ""}, {T_END + 1.0, end}, {T_END - 0.5, ""}}},
      {times({-1.0, -1.01, 2.0}), -1, {{-1.0, ""}, {-1.01, end}, {-1.0, ""}}},
      {times({0.0, 1.0, 2.0, 3.0}), 2, {{0.0, ""}, {1.0, ""}, {2.0, end}, {0.0, ""}}},
  };
  for (const auto& row : rows) {
    start(row.results);
    for (std::size_t k = 0; k < row.frames.size(); ++k) {
      const auto& [t, message] = row.frames[k];
      SCOPED_TRACE("frame " + std::to_string(k) + " at " + std::to_string(t));
      resetGl();
      gl.idle = onIdle;  // playing
      state.rewindRequested = static_cast<int>(k) == row.rewindAt ? 1 : 0;
      EXPECT_EQ(frame(), progressLine(t) + message);
      EXPECT_EQ(gl.text, "Progress :  Virtual:" + std::to_string(t) + "[s]");
      EXPECT_EQ(gl.swaps, 1);
      EXPECT_EQ(gl.idle, message.empty() ? onIdle : nullptr);
      EXPECT_EQ(gl.redisplays, static_cast<int>(k) == row.rewindAt ? 1 : 0);
      EXPECT_EQ(state.rewindRequested, 0);
    }
  }
}

TEST_F(FrameTest, AFailedReopenIsReportedOnEveryEndWithoutFlooding) {
  start(times({0.0, T_END}));
  frame();
  ASSERT_EQ(std::remove("result.dat"), 0);
  const std::string failed = progressLine(T_END) + END + "file cannot open.\n";
  gl.idle = onIdle;
  EXPECT_EQ(frame(), failed);
  EXPECT_FALSE(isOpen(state.resultStream));
  // Each later redraw finds no stream: it ends the run again, once, and playback stays stopped.
  gl.idle = onIdle;
  EXPECT_EQ(frame(), failed);
  EXPECT_EQ(gl.idle, nullptr);
  EXPECT_EQ(gl.redisplays, 0);
  // Once the file is back, the next redraw opens it, and the one after replays it.
  dir.write("result.dat", times({0.5}));
  frame();
  EXPECT_EQ(frame(), progressLine(0.5));
}

// The drawn positions at the initial scale, in drawing units (100 pixels each). Colours, point
// size and font are the end-to-end tests' part: they see the pixels.
TEST_F(FrameTest, ItemsStandWhereTheyBelongAndNodesMoveByTheirDisplacement) {
  const int node = NX + 2;  // second row, second column
  start(recordText(T_END / 4.0, node, 0.003, -0.0015));
  frame();
  const double s = SCALE_INIT, tol = 1e-6;

  const auto& base = gl.of(GL_LINES).at(0)->vertices;
  ASSERT_EQ(base.size(), 2u);
  for (const auto& v : base) {
    EXPECT_NEAR(v.y, -HH / s, tol);
    EXPECT_NEAR(std::fabs(v.x), FW / s, tol);
  }

  const auto& points = *gl.of(GL_POINTS).at(0);
  ASSERT_EQ(points.vertices.size(), static_cast<std::size_t>(NODE_COUNT));
  EXPECT_NEAR(points.vertices[0].x, -HW / s, tol);
  EXPECT_NEAR(points.vertices[0].y, -HH / s, tol);
  EXPECT_NEAR(points.vertices[NODE_COUNT - 1].x, HW / s, tol);
  EXPECT_NEAR(points.vertices[NODE_COUNT - 1].y, HH / s, tol);
  EXPECT_NEAR(points.vertices[node].x, (DX + 0.003 - HW) / s, tol);
  EXPECT_NEAR(points.vertices[node].y, (DY - 0.0015 - HH) / s, tol);

  const auto loops = gl.of(GL_LINE_LOOP);
  ASSERT_EQ(loops.size(), static_cast<std::size_t>(ELEMENT_COUNT + 1));
  const auto& triangle = loops[2 * NX]->vertices;  // the first of the second row, on `node`
  ASSERT_EQ(triangle.size(), 3u);
  EXPECT_NEAR(triangle[1].x, points.vertices[node].x, tol);
  EXPECT_NEAR(triangle[1].y, points.vertices[node].y, tol);

  const auto& bar = loops.back()->vertices;
  const auto& fill = gl.of(GL_QUADS).at(0)->vertices;
  ASSERT_EQ(bar.size(), 4u);
  ASSERT_EQ(fill.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(bar[i].x, (i == 1 || i == 2 ? FW : -FW) / s, tol);
    EXPECT_NEAR(bar[i].y, (i < 2 ? -YTOP : -YBOT) / s, tol);
    EXPECT_NEAR(fill[i].x, (i == 1 || i == 2 ? -FW / 2 : -FW) / s, tol);  // a quarter of the way
    EXPECT_NEAR(fill[i].y, bar[i].y, tol);
  }

  EXPECT_NEAR(gl.rasterPos[0], -FW / s, tol);
  EXPECT_NEAR(gl.rasterPos[1], -YLABEL / s, tol);
  EXPECT_EQ(gl.text, "Progress :  Virtual:" + std::to_string(T_END / 4.0) + "[s]");
  EXPECT_EQ(gl.clears, 1);
  EXPECT_EQ(gl.swaps, 1);
}

TEST_F(FrameTest, FlagsHideNodesAndTrianglesAndOutOfTableTrianglesAreSkipped) {
  dir.write("tridata.dat", "0 -1 1 2\n1 0 1 " + std::to_string(NODE_COUNT) +
                               "\n2 0 1 2147483647\n3 0 1 99999999999\n4 0 1 2\n");
  start(times({0.0, 0.1}));
  frame();
  // Elements 0 to 3 are out of range; 4 and the untouched (0, 0, 0) rest are drawn.
  EXPECT_EQ(gl.of(GL_LINE_LOOP).size(), static_cast<std::size_t>(ELEMENT_COUNT - 4 + 1));
  state.showNodes = 0;
  state.showElements = 0;
  frame();
  EXPECT_TRUE(gl.of(GL_POINTS).empty());
  EXPECT_EQ(gl.of(GL_LINE_LOOP).size(), 1u);  // the progress frame only
  EXPECT_EQ(gl.of(GL_LINES).size() + gl.of(GL_QUADS).size(), 2u);
  EXPECT_FALSE(gl.text.empty());
}

TEST_F(FrameTest, LabelAndConsoleShowEveryDigitOfAHugeTime) {
  start(times({1e300}));
  const std::string console = frame();
  char expected[400];
  std::snprintf(expected, sizeof expected, "%lf", 1e300);
  EXPECT_EQ(gl.text, "Progress :  Virtual:" + std::string(expected) + "[s]");
  EXPECT_EQ(console, progressLine(1e300));
  char label[LABEL_CAPACITY];
  EXPECT_EQ(formatLabel(-std::numeric_limits<double>::max(), label), 20 + 1 + 309 + 7 + 3u);
}

}  // namespace
