// Start-up order, the window, and the projection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "viewer/startup.h"
#include "viewer/window.h"
#include "viewer_fixture.h"

namespace {

using StartupTest = ViewerTest;

// Runs start-up with standard input taken from `input`, returning the console output.
std::string startWith(const ScratchDirectory& dir, const std::string& input, std::string name) {
  dir.write("stdin.txt", input);
  EXPECT_NE(std::freopen("stdin.txt", "r", stdin), nullptr);
  char* argv[] = {name.data(), nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(runViewer(1, argv), 0);
  return testing::internal::GetCapturedStdout();
}

TEST_F(StartupTest, MissingFilesAreReportedThenTheWindowOpensAsSetUp) {
  std::remove("geodata.dat");
  std::remove("tridata.dat");
  EXPECT_EQ(startWith(dir, "", "./meshplay"),
            "file cannot open.\nfile cannot open.\nfile cannot open.\npress Enter to start \n");
  EXPECT_FALSE(isOpen(state.resultStream));
  // The window as the user sees it; the order of the set-up calls is GLUT's business, but the
  // main loop comes last, for good.
  for (const std::string& call :
       {"glutInitDisplayMode " + std::to_string(GLUT_RGB | GLUT_DOUBLE),
        std::string("glutInitWindowPosition 200 50"), std::string("glutInitWindowSize 300 300"),
        std::string("glutCreateWindow ./meshplay"), std::string("glClearColor 1 1 1 1")}) {
    EXPECT_NE(std::find(gl.calls.begin(), gl.calls.end(), call), gl.calls.end()) << call;
  }
  EXPECT_EQ(gl.calls.back(), "glutMainLoop");
  EXPECT_EQ(gl.idle, nullptr);  // playback starts stopped
}

TEST_F(StartupTest, PresentFilesAreOpenedAndOnlyOneCharacterIsConsumed) {
  dir.write("result.dat", recordText(0.0));
  EXPECT_EQ(startWith(dir, "xyz\n", "meshplay"), "press Enter to start \n");
  EXPECT_TRUE(isOpen(state.resultStream));
  EXPECT_TRUE(isOpen(state.nodeStream));
  EXPECT_TRUE(isOpen(state.elementStream));
  EXPECT_EQ(std::getchar(), 'y');
}

// One drawing unit is a hundred pixels around the centre; a minimised window keeps the identity.
TEST_F(StartupTest, TheProjectionFollowsTheWindowSize) {
  setProjection(600, 300);
  setProjection(0, 300);
  setProjection(301, 0);
  setProjection(1, 1);  // the narrowest window that has an extent still gets its projection
  const std::vector<std::string> calls = {
      "glViewport 0 0 600 300", "glLoadIdentity", "glOrtho -3 3 -1.5 1.5 -1 1",
      "glViewport 0 0 0 300",   "glLoadIdentity", "glViewport 0 0 301 0",
      "glLoadIdentity"};
  ASSERT_EQ(gl.calls.size(), calls.size() + 3);
  EXPECT_EQ(std::vector<std::string>(gl.calls.begin(), gl.calls.end() - 3), calls);
  EXPECT_EQ(gl.calls.back().rfind("glOrtho -0.005", 0), 0u) << gl.calls.back();
}

}  // namespace
