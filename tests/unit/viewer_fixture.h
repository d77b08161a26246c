// Shared fixture of the in-process tests: every test starts from a fresh ViewerState and an
// empty GL record, in a scratch working directory of its own holding the grid's files.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "gl_double.h"
#include "model/viewer_state.h"
#include "scratch.h"

// The streams close themselves as the fresh state takes their place.
inline void resetViewer() {
  state = ViewerState{};
  resetGl();
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override;  // writes geodata.dat and tridata.dat as the demo generator does
  void TearDown() override { resetViewer(); }

  // Writes result.dat and opens the three files as start-up does.
  void start(const std::string& results);

  // One redraw, returning what it printed on the console; the GL record holds only this frame.
  std::string frame();

  ScratchDirectory dir;
};

// One result record of time t: node `moved` displaced by (dx, dy), everything else zero.
std::string recordText(double t, int moved = 0, double dx = 0.0, double dy = 0.0);

// Records of the given times, nothing displaced.
std::string times(std::initializer_list<double> ts);

// The console line of a frame showing time t.
std::string progressLine(double t);
