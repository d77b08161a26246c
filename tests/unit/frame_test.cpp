// The frame cycle: the end of a run, the reopen, rewind, and what is drawn where.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "model/readers.h"
#include "viewer/frame.h"
#include "viewer/replay.h"
#include "viewer/input.h"
#include "viewer_fixture.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr bool PROFILE_A = NX == 10;

class FrameTest : public ViewerTest {
 protected:
  // Writes the three files, opens them as start-up does, and returns nothing drawn yet.
  void start(const std::string& results) {
    dir.write("geodata.dat", restNodesText());
    dir.write("tridata.dat", trianglesText());
    dir.write("result.dat", results);
    ASSERT_TRUE(openStream(state.resultStream, "result.dat"));
    ASSERT_TRUE(openStream(state.nodeStream, "geodata.dat"));
    ASSERT_TRUE(openStream(state.elementStream, "tridata.dat"));
  }

  // One redraw, returning what it printed on the console.
  std::string frame() {
    gl.primitives.clear();
    gl.text.clear();
    testing::internal::CaptureStdout();
    drawFrame();
    return testing::internal::GetCapturedStdout();
  }

  static std::string times(const std::vector<double>& ts) {
    std::string text;
    for (double t : ts) text += recordText(t);
    return text;
  }
};

TEST(EndOfRun, Boundaries) {
  const struct {
    double t;
    bool timeValid, rewind, ends;
    const char* why;
  } rows[] = {
      {0.0, true, false, false, "start of the run"},
      {T_END - 0.01, true, false, false, "just before the end time"},
      {T_END, true, false, true, "the end time"},
      {T_END + 0.7, true, false, true, "integer part is the end time"},
      {T_END + 1.0, true, false, false, "beyond: a jump over the end time runs on"},
      {-1.0, true, false, false, "-1 is an ordinary time"},
      {-1.01, true, false, true, "below -1"},
      {NaN, true, false, true, "not a number"},
      {-INF, true, false, true, "minus infinity"},
      {INF, true, false, false, "plus infinity is no end time"},
      {1e300, true, false, false, "far beyond any integer"},
      {0.0, false, false, true, "time not read: end of the data"},
      {3.0, true, true, true, "rewind requested"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(runHasEnded(row.t, row.timeValid, row.rewind), row.ends);
  }
}

TEST_F(FrameTest, ARunEndsOnItsEndTimeAndReplaysFromTheStart) {
  start(times({0.0, 1.5, T_END - 0.01, T_END + 0.5, 99.0}));
  gl.idle = onIdle;  // playing
  EXPECT_EQ(frame(), "Progress:  Virtual:0.000000[s]\r");
  frame();
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(T_END - 0.01) + "[s]\r");
  EXPECT_EQ(gl.idle, onIdle);
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(T_END + 0.5) +
                         "[s]\rPRESS MOUSE BUTTON ON DISPLAY\r");
  EXPECT_EQ(gl.idle, nullptr);
  EXPECT_EQ(gl.redisplays, 0);
  EXPECT_EQ(gl.swaps, 4);  // the last record is still drawn
  EXPECT_NE(gl.text.find(std::to_string(T_END + 0.5)), std::string::npos);
  EXPECT_EQ(frame(), "Progress:  Virtual:0.000000[s]\r");  // 99.0 is never shown
}

TEST_F(FrameTest, EndOfDataEndsTheRunAndKeepsTheLastPicture) {
  // A jump over the end time runs on to the end of the data.
  start(times({T_END - 0.5}) + recordText(T_END + 1.0, 3, 0.003, 0.0));
  frame();
  EXPECT_EQ(frame().find("PRESS"), std::string::npos);
  const double x3 = gl.of(GL_POINTS)[0]->vertices[3].x;
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(T_END + 1.0) +
                         "[s]\rPRESS MOUSE BUTTON ON DISPLAY\r");
  EXPECT_DOUBLE_EQ(gl.of(GL_POINTS)[0]->vertices[3].x, x3);  // the same displaced node
  EXPECT_NE(gl.text.find(std::to_string(T_END + 1.0)), std::string::npos);
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(T_END - 0.5) + "[s]\r");
}

TEST_F(FrameTest, TimesBelowMinusOneOrNotANumberEndTheRun) {
  start(times({-1.0, -1.01, 2.0}));
  EXPECT_EQ(frame().find("PRESS"), std::string::npos);
  EXPECT_NE(frame().find("PRESS"), std::string::npos);
  EXPECT_EQ(frame(), "Progress:  Virtual:-1.000000[s]\r");  // the file starts again

  dir.write("result.dat", times({2.0}) + "nan" + recordText(0.0).substr(1) + times({3.0}));
  ASSERT_TRUE(openStream(state.resultStream, "result.dat"));
  frame();
  EXPECT_EQ(frame(), "Progress:  Virtual:nan[s]\rPRESS MOUSE BUTTON ON DISPLAY\r");
}

TEST_F(FrameTest, AFailedReopenIsReportedOnEveryEndWithoutFlooding) {
  start(times({0.0, T_END}));
  frame();
  ASSERT_EQ(std::remove("result.dat"), 0);
  gl.idle = onIdle;
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(double{T_END}) +
                         "[s]\rPRESS MOUSE BUTTON ON DISPLAY\rfile cannot open.\n");
  EXPECT_FALSE(isOpen(state.resultStream));
  // Each later redraw finds no stream: it ends the run again, once, and playback stays stopped.
  gl.idle = onIdle;
  EXPECT_EQ(frame(), "Progress:  Virtual:" + std::to_string(double{T_END}) +
                         "[s]\rPRESS MOUSE BUTTON ON DISPLAY\rfile cannot open.\n");
  EXPECT_EQ(gl.idle, nullptr);
  EXPECT_EQ(gl.redisplays, 0);
  // Once the file is back, the next redraw replays it from the start.
  dir.write("result.dat", times({0.5}));
  frame();
  EXPECT_TRUE(isOpen(state.resultStream));
  EXPECT_EQ(frame(), "Progress:  Virtual:0.500000[s]\r");
}

TEST_F(FrameTest, RewindEndsTheRunAtTheNextFrameAndShowsTheFirstRecord) {
  start(times({0.0, 1.0, 2.0, 3.0}));
  frame();
  frame();
  state.rewindRequested = 1;
  EXPECT_EQ(frame(), "Progress:  Virtual:2.000000[s]\rPRESS MOUSE BUTTON ON DISPLAY\r");
  EXPECT_EQ(state.rewindRequested, 0);
  EXPECT_EQ(gl.redisplays, 1);
  EXPECT_EQ(frame(), "Progress:  Virtual:0.000000[s]\r");
}

TEST_F(FrameTest, TablesAreReadOnTheFirstFrameAndKeptWhenTheFilesAreExhausted) {
  start(times({0.0, T_END}));
  frame();
  EXPECT_DOUBLE_EQ(state.nodeTable[NX].x, NX * DX);
  EXPECT_EQ(state.elementTable[1].nodes[2], NX + 1);
  frame();  // ends the run
  frame();  // second run: same mesh
  EXPECT_DOUBLE_EQ(state.nodeTable[NX].x, NX * DX);
  EXPECT_EQ(state.elementTable[1].nodes[2], NX + 1);
  EXPECT_EQ(gl.of(GL_LINE_LOOP).size(), static_cast<std::size_t>(ELEMENT_COUNT + 1));
}

// The drawn positions of the rest model at the initial scale, in drawing units.
TEST_F(FrameTest, ItemsStandWhereTheyBelongForTheProfile) {
  const double w = PROFILE_A ? 1.0 : 4.0 / 3.0;  // frame half-width
  const double grid = PROFILE_A ? 0.8333333 : 1.25;
  const double labelY = PROFILE_A ? -0.75 : -0.625;
  const double barTop = PROFILE_A ? -0.8333333 : -0.6666667;
  const double barBottom = PROFILE_A ? -1.0 : -0.75;
  const double tol = 1e-6;
  start(times({0.0}));
  frame();

  const auto lines = gl.of(GL_LINES);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0]->vertices.size(), 2u);
  for (const auto& v : lines[0]->vertices) {
    EXPECT_TRUE(v.single);
    EXPECT_NEAR(v.y, -0.5, tol);
    EXPECT_NEAR(std::fabs(v.x), w, tol);
    EXPECT_EQ(v.color[0] + v.color[1] + v.color[2], 0.0);  // black
  }

  const auto points = gl.of(GL_POINTS);
  ASSERT_EQ(points.size(), 1u);
  ASSERT_EQ(points[0]->vertices.size(), static_cast<std::size_t>(NODE_COUNT));
  EXPECT_EQ(points[0]->pointSize, 4.0f);
  double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
  for (const auto& v : points[0]->vertices) {
    EXPECT_TRUE(v.single);
    minX = std::fmin(minX, v.x);
    maxX = std::fmax(maxX, v.x);
    minY = std::fmin(minY, v.y);
    maxY = std::fmax(maxY, v.y);
  }
  EXPECT_NEAR(minX, -grid, tol);
  EXPECT_NEAR(maxX, grid, tol);
  EXPECT_NEAR(minY, -0.5, tol);
  EXPECT_NEAR(maxY, 0.5, tol);

  const auto loops = gl.of(GL_LINE_LOOP);
  ASSERT_EQ(loops.size(), static_cast<std::size_t>(ELEMENT_COUNT + 1));
  for (int e = 0; e < ELEMENT_COUNT; ++e) {
    ASSERT_EQ(loops[e]->vertices.size(), 3u);
    EXPECT_FALSE(loops[e]->vertices[0].single);
  }
  const auto& bar = loops.back()->vertices;
  ASSERT_EQ(bar.size(), 4u);
  EXPECT_NEAR(bar[0].x, -w, tol);
  EXPECT_NEAR(bar[1].x, w, tol);
  EXPECT_NEAR(bar[0].y, barTop, tol);
  EXPECT_NEAR(bar[2].y, barBottom, tol);
  EXPECT_EQ(bar[0].color[1], 1.0);
  EXPECT_EQ(bar[0].color[2], 0.5);

  EXPECT_NEAR(gl.rasterPos[0], -w, tol);
  EXPECT_NEAR(gl.rasterPos[1], labelY, tol);
  EXPECT_EQ(gl.rasterColor[0] + gl.rasterColor[1] + gl.rasterColor[2], 0.0);
  EXPECT_EQ(gl.text, "Progress :  Virtual:0.000000[s]");
  EXPECT_EQ(gl.font, GLUT_BITMAP_HELVETICA_18);
  EXPECT_EQ(gl.clears, 1);
  EXPECT_EQ(gl.swaps, 1);
}

TEST_F(FrameTest, ADisplacedNodeMovesByItsDisplacementOverTheScale) {
  const int node = NX + 2;  // second row, second column
  start(recordText(1.0, node, 0.003, -0.0015));
  frame();
  const auto& v = gl.of(GL_POINTS)[0]->vertices[node];
  EXPECT_NEAR(v.x, (DX + 0.003 - HW) / SCALE_INIT, 1e-6);
  EXPECT_NEAR(v.y, (DY - 0.0015 - HH) / SCALE_INIT, 1e-6);
}

TEST_F(FrameTest, ProgressFillCoversTheElapsedFractionOfTheFrame) {
  EXPECT_DOUBLE_EQ(progressFillEdge(0.0), -FW);
  EXPECT_NEAR(progressFillEdge(THALF), 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(progressFillEdge(T_END), FW);
  EXPECT_LT(progressFillEdge(-1.0), -FW);  // negative times reach left of the frame
  start(times({T_END * 0.25}));
  frame();
  const auto quads = gl.of(GL_QUADS);
  ASSERT_EQ(quads.size(), 1u);
  EXPECT_NEAR(quads[0]->vertices[1].x, -FW / 2 / SCALE_INIT, 1e-9);
  EXPECT_EQ(quads[0]->vertices[1].color[1], 1.0);
}

TEST_F(FrameTest, DisplayFlagsHideNodesAndTriangles) {
  start(times({0.0, 0.1}));
  state.showNodes = 0;
  state.showElements = 0;
  frame();
  EXPECT_TRUE(gl.of(GL_POINTS).empty());
  EXPECT_EQ(gl.of(GL_LINE_LOOP).size(), 1u);  // the progress frame only
  EXPECT_EQ(gl.of(GL_LINES).size(), 1u);
  EXPECT_EQ(gl.of(GL_QUADS).size(), 1u);
  EXPECT_FALSE(gl.text.empty());
}

TEST_F(FrameTest, TrianglesNamingNodesOutsideTheTableAreSkipped) {
  dir.write("geodata.dat", restNodesText());
  dir.write("tridata.dat", "0 -1 1 2\n1 0 1 " + std::to_string(NODE_COUNT) +
                               "\n2 0 1 2147483647\n3 0 1 99999999999\n4 0 1 2\n");
  dir.write("result.dat", times({0.0}));
  ASSERT_TRUE(openStream(state.resultStream, "result.dat"));
  ASSERT_TRUE(openStream(state.nodeStream, "geodata.dat"));
  ASSERT_TRUE(openStream(state.elementStream, "tridata.dat"));
  frame();
  // Elements 0 to 3 are out of range; 4 and the untouched (0, 0, 0) rest are drawn.
  EXPECT_EQ(gl.of(GL_LINE_LOOP).size(), static_cast<std::size_t>(ELEMENT_COUNT - 4 + 1));
}

TEST_F(FrameTest, LabelAndConsoleShowEveryDigitOfAHugeTime) {
  start(times({1e300}));
  const std::string console = frame();
  std::vector<char> expected(400);
  std::snprintf(expected.data(), expected.size(), "%lf", 1e300);
  EXPECT_EQ(gl.text, "Progress :  Virtual:" + std::string(expected.data()) + "[s]");
  EXPECT_EQ(console, "Progress:  Virtual:" + std::string(expected.data()) + "[s]\r");
  char label[LABEL_CAPACITY];
  EXPECT_EQ(formatLabel(-std::numeric_limits<double>::max(), label), 20 + 1 + 309 + 7 + 3u);
}

}  // namespace
