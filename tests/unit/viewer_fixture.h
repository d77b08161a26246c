// Shared fixture of the in-process viewer tests: every test starts from a fresh ViewerState and
// an empty GL record, in a scratch working directory of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "gl_double.h"
#include "model/viewer_state.h"
#include "stream_text.h"

// The streams close themselves as the fresh state takes their place.
inline void resetViewer() {
  state = ViewerState{};
  resetGl();
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override { resetViewer(); }
  void TearDown() override { resetViewer(); }

  ScratchDirectory dir;
};

// Text of the rest grid: node i at ((i mod (NX+1)) DX, (i div (NX+1)) DY), two triangles a cell.
std::string restNodesText();
std::string trianglesText();

// One result record of time t: node `moved` displaced by (dx, dy), everything else zero.
std::string recordText(double t, int moved = 0, double dx = 0.0, double dy = 0.0);
