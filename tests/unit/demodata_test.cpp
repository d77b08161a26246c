// The demo data, read back as the viewer of the same profile reads it: what a newcomer watching
// the demo would notice going wrong.
#include <gtest/gtest.h>

#include <cmath>

#include "common/failure.h"
#include "demodata/demo_data.h"
#include "model/readers.h"
#include "model/replay.h"
#include "viewer_fixture.h"

namespace {

using DemoDataTest = ViewerTest;

TEST_F(DemoDataTest, PlaysToTheEndTimeSwayingVisiblyInsideTheWindow) {
  ASSERT_NO_THROW(companion::demo::writeDemoData(dir.path()));
  InputStream results;
  ASSERT_TRUE(openStream(results, "result.dat"));
  ASSERT_TRUE(openStream(state.nodeStream, "geodata.dat"));
  readNodeBlock(state.nodeStream, state.nodeTable);
  ResultRecord r;
  int count = 0, ends = 0;
  double sway = 0.0;  // of the top-right node against the bottom-right one, in pixels
  for (; readResultRecord(results, r); ++count) {
    // A short or long record would shift every later time off its 0.01 s grid.
    ASSERT_NEAR(r.time(), count / 100.0, 1e-9);
    ends += runHasEnded(r.time(), true, false) ? 1 : 0;
    const double top = r.vectors[NODE_COUNT - 1][0] - r.vectors[NX][0];
    sway = std::fmax(sway, std::fabs(top) / SCALE_INIT * 100.0);
    for (int i = 0; i < NODE_COUNT; ++i) {  // the window reaches 150 pixels from the centre
      ASSERT_LT(std::fabs(state.nodeTable[i].x + r.vectors[i][0] - HW), 1.5 * SCALE_INIT);
      ASSERT_LT(std::fabs(state.nodeTable[i].y + r.vectors[i][1] - HH), 1.5 * SCALE_INIT);
    }
  }
  EXPECT_EQ(count, T_END * 100 + 1);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(runHasEnded(r.time(), true, false)) << "the last record ends the run";
  EXPECT_GT(sway, 5.0);
  try {
    companion::demo::writeDemoData("/nonexistent/folder");
    ADD_FAILURE() << "a folder that is not there was written into";
  } catch (const companion::Failure& failure) {
    EXPECT_STREQ(failure.what(), "/nonexistent/folder/geodata.dat: No such file or directory");
  }
}

}  // namespace
