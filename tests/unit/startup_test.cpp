// Start-up order, the window, and the projection.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "viewer/frame.h"
#include "viewer/input.h"
#include "viewer/startup.h"
#include "viewer_fixture.h"

namespace {

using StartupTest = ViewerTest;

// Runs start-up with standard input taken from `input`, returning the console output.
std::string startWith(const std::string& input, const char* name) {
  {
    std::FILE* f = std::fopen("stdin.txt", "w");
    std::fputs(input.c_str(), f);
    std::fclose(f);
  }
  EXPECT_NE(std::freopen("stdin.txt", "r", stdin), nullptr);
  char program[64];
  std::snprintf(program, sizeof program, "%s", name);
  char* argv[] = {program, nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(runViewer(1, argv), 0);
  return testing::internal::GetCapturedStdout();
}

TEST_F(StartupTest, MissingFilesAreReportedThenTheWindowOpensAsSetUp) {
  std::remove("geodata.dat");
  std::remove("tridata.dat");
  EXPECT_EQ(startWith("", "./meshplay"),
            "file cannot open.\nfile cannot open.\nfile cannot open.\npress Enter to start \n");
  EXPECT_FALSE(isOpen(state.resultStream));
  const std::vector<std::string> order = {
      "glutInit",           "glutInitDisplayMode", "glutInitWindowPosition",
      "glutInitWindowSize", "glutCreateWindow",    "glutReshapeFunc",
      "glutDisplayFunc",    "glutMouseFunc",       "glutKeyboardFunc",
      "glutSpecialFunc",    "glutMainLoop"};
  EXPECT_EQ(gl.calls, order);
  EXPECT_EQ(gl.displayMode, static_cast<unsigned>(GLUT_RGB | GLUT_DOUBLE));
  EXPECT_EQ(gl.position[0], 200);
  EXPECT_EQ(gl.position[1], 50);
  EXPECT_EQ(gl.size[0], 300);
  EXPECT_EQ(gl.size[1], 300);
  EXPECT_EQ(gl.title, "./meshplay");
  EXPECT_EQ(gl.clearColor[0] + gl.clearColor[1] + gl.clearColor[2] + gl.clearColor[3], 4.0f);
  EXPECT_EQ(gl.display, drawFrame);
  EXPECT_EQ(gl.reshape, setProjection);
  EXPECT_EQ(gl.mouse, onMouse);
  EXPECT_EQ(gl.keyboard, onKey);
  EXPECT_EQ(gl.special, onSpecialKey);
  EXPECT_EQ(gl.idle, nullptr);  // playback starts stopped
}

TEST_F(StartupTest, PresentFilesAreOpenedAndOnlyOneCharacterIsConsumed) {
  dir.write("result.dat", recordText(0.0));
  EXPECT_EQ(startWith("xyz\n", "meshplay"), "press Enter to start \n");
  EXPECT_TRUE(isOpen(state.resultStream));
  EXPECT_TRUE(isOpen(state.nodeStream));
  EXPECT_TRUE(isOpen(state.elementStream));
  EXPECT_EQ(std::getchar(), 'y');
}

TEST_F(StartupTest, OneDrawingUnitIsAHundredPixelsAroundTheCentre) {
  setProjection(600, 300);
  EXPECT_EQ(gl.viewport[2], 600);
  EXPECT_EQ(gl.viewport[3], 300);
  const double expected[6] = {-3.0, 3.0, -1.5, 1.5, -1.0, 1.0};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(gl.ortho[i], expected[i]) << i;

  // A minimised window: the viewport follows, the matrix stays identity.
  setProjection(0, 300);
  EXPECT_EQ(gl.viewport[2], 0);
  EXPECT_EQ(gl.orthoCalls, 1);
  for (double v : gl.ortho) EXPECT_EQ(v, 0.0);
  setProjection(301, 0);
  EXPECT_EQ(gl.orthoCalls, 1);
}

}  // namespace
