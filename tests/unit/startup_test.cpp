// Start-up: the messages for missing files, the prompt and the wait for Enter, and playback
// stopped until the user starts it. The window (its size, background and projection) is the
// end-to-end tests' part: they see its pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "viewer/startup.h"
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

TEST_F(StartupTest, MissingFilesAreReportedAndPlaybackStartsStopped) {
  std::remove("geodata.dat");
  std::remove("tridata.dat");
  EXPECT_EQ(startWith(dir, "", "./meshplay"),
            "file cannot open.\nfile cannot open.\nfile cannot open.\npress Enter to start \n");
  EXPECT_FALSE(isOpen(state.resultStream));
  EXPECT_EQ(gl.idle, nullptr);
}

TEST_F(StartupTest, PresentFilesAreOpenedAndOnlyOneCharacterIsConsumed) {
  dir.write("result.dat", recordText(0.0));
  EXPECT_EQ(startWith(dir, "xyz\n", "meshplay"), "press Enter to start \n");
  EXPECT_TRUE(isOpen(state.resultStream));
  EXPECT_TRUE(isOpen(state.nodeStream));
  EXPECT_TRUE(isOpen(state.elementStream));
  EXPECT_EQ(std::getchar(), 'y');
}

}  // namespace
