// The demo data generator, checked through the viewer's own readers: what it writes must be what
// the program of the same profile expects, and the motion must look like a shaken block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "demo_data.h"
#include "model/readers.h"
#include "model/scanner.h"
#include "stream_text.h"
#include "viewer/frame.h"
#include "viewer/replay.h"

namespace {

// Pair blocks of a record, in the order the generator writes them.
constexpr int DISPLACEMENT = 0, VELOCITY = 1, ACCELERATION = 2, RELATIVE = 3;
constexpr int TOP_RIGHT = NODE_COUNT - 1;

double vx(const ResultRecord& r, int block, int node) {
  return r.vectors[block * NODE_COUNT + node][0];
}
double vy(const ResultRecord& r, int block, int node) {
  return r.vectors[block * NODE_COUNT + node][1];
}

// A stream that has nothing left: no further number can be scanned and the file is at its end.
bool exhausted(InputStream& s) {
  double ignored = 0.0;
  return !scanReal(s, ignored) && s.atEnd && s.pos == s.end;
}

// The three files are written once per test program and read back with the viewer's readers.
class DemoDataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<ScratchDirectory>();
    std::string error;
    written = demo::writeDemoData(dir->path(), error);
    ASSERT_TRUE(written) << error;

    auto stream = std::make_unique<InputStream>();
    // Every entry starts out as a value no file holds, so an entry the reader missed shows.
    nodes = std::make_unique<NodeTable>();
    for (NodePosition& n : *nodes) n = {NAN, NAN};
    ASSERT_TRUE(openStream(*stream, "geodata.dat"));
    readNodeBlock(*stream, *nodes);
    nodesExhausted = exhausted(*stream);

    elements = std::make_unique<ElementTable>();
    for (Element& e : *elements) e = {{-1, -1, -1}};
    ASSERT_TRUE(openStream(*stream, "tridata.dat"));
    readElementBlock(*stream, *elements);
    elementsExhausted = exhausted(*stream);

    ASSERT_TRUE(openStream(*stream, "result.dat"));
    records.clear();
    ResultRecord record;
    while (readResultRecord(*stream, record)) records.push_back(record);
    resultsExhausted = exhausted(*stream);
    closeStream(*stream);
  }
  static void TearDownTestSuite() {
    records.clear();
    dir.reset();
  }

  static double maxOver(double (*value)(const ResultRecord&)) {
    double m = 0.0;
    for (const ResultRecord& r : records) m = std::max(m, std::fabs(value(r)));
    return m;
  }

  static inline std::unique_ptr<ScratchDirectory> dir;
  static inline bool written = false;
  static inline std::unique_ptr<NodeTable> nodes;
  static inline std::unique_ptr<ElementTable> elements;
  static inline std::vector<ResultRecord> records;
  static inline bool nodesExhausted = false, elementsExhausted = false, resultsExhausted = false;
};

TEST_F(DemoDataTest, GridFilesFillTheTablesExactly) {
  EXPECT_TRUE(nodesExhausted) << "the node file holds more than one block";
  for (int i = 0; i < NODE_COUNT; ++i) {
    ASSERT_NEAR((*nodes)[i].x, (i % (NX + 1)) * DX, 1e-12) << "node " << i;
    ASSERT_NEAR((*nodes)[i].y, (i / (NX + 1)) * DY, 1e-12) << "node " << i;
  }

  // The triangles tile the grid: each one counter-clockwise and non-degenerate, their areas adding
  // up to the grid's, and every node a corner of at least one of them.
  EXPECT_TRUE(elementsExhausted) << "the element file holds more than one block";
  std::vector<bool> used(NODE_COUNT, false);
  double area = 0.0;
  for (int e = 0; e < ELEMENT_COUNT; ++e) {
    const Element& el = (*elements)[e];
    for (std::int32_t n : el.nodes) {
      ASSERT_TRUE(n >= 0 && n < NODE_COUNT) << "element " << e << " names node " << n;
      used[static_cast<std::size_t>(n)] = true;
    }
    const NodePosition &a = (*nodes)[el.nodes[0]], &b = (*nodes)[el.nodes[1]],
                       &c = (*nodes)[el.nodes[2]];
    const double twice = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    ASSERT_NEAR(twice, DX * DY, 1e-12) << "element " << e << " is not half a grid cell";
    area += twice / 2.0;
  }
  EXPECT_NEAR(area, NX * DX * NY * DY, 1e-12);
  EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
}

TEST_F(DemoDataTest, RecordsAreCompleteAndEndTheRunOnceAtTheEndTime) {
  ASSERT_EQ(records.size(), static_cast<std::size_t>(T_END * 100 + 1));
  EXPECT_TRUE(resultsExhausted) << "text after the last record";
  // A short record would shift every later time; a time off its 0.01 s grid shows it.
  EXPECT_EQ(records.front().time(), 0.0);
  for (std::size_t k = 0; k < records.size(); ++k) {
    ASSERT_NEAR(records[k].time(), static_cast<double>(k) / 100.0, 1e-9) << "record " << k;
  }
  // The program's own end-of-run decision fires on the last record and on no other.
  std::vector<std::size_t> ends;
  for (std::size_t k = 0; k < records.size(); ++k) {
    if (runHasEnded(records[k].time(), true, false)) ends.push_back(k);
  }
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0], records.size() - 1);
  EXPECT_EQ(std::trunc(records.back().time()), T_END);
}

TEST_F(DemoDataTest, BaseRowFollowsTheShaking) {
  for (const ResultRecord& r : records) {
    SCOPED_TRACE(r.time());
    const double base = r.base[0][0];
    for (int j = 0; j < BASE_PAIRS; ++j) {
      ASSERT_EQ(r.base[j][0], base) << "the base moves as one";
      ASSERT_EQ(r.base[j][1], 0.0) << "the base moves horizontally";
      ASSERT_EQ(vx(r, DISPLACEMENT, j), base) << "base-row node " << j;
      ASSERT_EQ(vy(r, DISPLACEMENT, j), 0.0) << "base-row node " << j;
      ASSERT_EQ(vx(r, RELATIVE, j), 0.0) << "base-row node " << j;
    }
    if (HEADER_VALUES > 1) {
      ASSERT_EQ(r.header[HEADER_VALUES > 1 ? 1 : 0], vx(r, ACCELERATION, 0));
    }
  }
  // A burst: from rest, a peak of about a millimetre, back and forth many times, dying away.
  EXPECT_EQ(records.front().base[0][0], 0.0);
  const double peak = maxOver([](const ResultRecord& r) { return r.base[0][0]; });
  EXPECT_GT(peak, 0.5e-3);
  EXPECT_LT(peak, 2.0e-3);
  int reversals = 0;
  for (std::size_t k = 1; k < records.size(); ++k) {
    if (records[k - 1].base[0][0] * records[k].base[0][0] < 0.0) ++reversals;
  }
  EXPECT_GE(reversals, 2 * T_END);
  double late = 0.0;
  for (std::size_t k = records.size() * 4 / 5; k < records.size(); ++k) {
    late = std::max(late, std::fabs(records[k].base[0][0]));
  }
  EXPECT_LT(late, peak / 3.0);
}

TEST_F(DemoDataTest, BlockSwaysMoreWithHeightAndVectorsAgree) {
  for (const ResultRecord& r : records) {
    SCOPED_TRACE(r.time());
    for (int i = 0; i < NODE_COUNT; ++i) {
      // The fourth vector is the displacement relative to the base, to the written precision.
      ASSERT_NEAR(vx(r, RELATIVE, i), vx(r, DISPLACEMENT, i) - r.base[0][0], 1e-8) << i;
      ASSERT_NEAR(vy(r, RELATIVE, i), vy(r, DISPLACEMENT, i), 1e-8) << i;
      // Along each column the sway never shrinks going up.
      if (i > NX) {
        ASSERT_GE(std::fabs(vx(r, RELATIVE, i)), std::fabs(vx(r, RELATIVE, i - NX - 1))) << i;
      }
    }
  }
  // Clearly visible at the default scale (0.3 mm to the pixel): the top sways by several pixels
  // against the base.
  const double sway = maxOver([](const ResultRecord& r) { return vx(r, RELATIVE, TOP_RIGHT); });
  EXPECT_GT(sway / SCALE_INIT * 100.0, 5.0);

  // Velocities and accelerations are the derivatives of the displacements: central differences
  // over 0.01 s agree to within one per cent of the largest value. Swapped or shifted blocks are
  // off by a factor of about ten.
  const double h = 0.01;
  for (int block : {VELOCITY, ACCELERATION}) {
    SCOPED_TRACE(block == VELOCITY ? "velocity" : "acceleration");
    for (int i : {0, TOP_RIGHT}) {
      double largest = 0.0;
      for (const ResultRecord& r : records) largest = std::max(largest, std::fabs(vx(r, block, i)));
      ASSERT_GT(largest, 0.0);
      for (std::size_t k = 1; k + 1 < records.size(); ++k) {
        const ResultRecord &before = records[k - 1], &now = records[k], &after = records[k + 1];
        const double dx = (vx(after, block - 1, i) - vx(before, block - 1, i)) / (2 * h);
        const double dy = (vy(after, block - 1, i) - vy(before, block - 1, i)) / (2 * h);
        ASSERT_NEAR(vx(now, block, i), dx, 0.01 * largest) << "node " << i << ", t " << now.time();
        ASSERT_NEAR(vy(now, block, i), dy, 0.01 * largest) << "node " << i << ", t " << now.time();
      }
    }
  }
}

TEST_F(DemoDataTest, SwayStaysInsideTheWindowAtTheDefaultScale) {
  // The 300 x 300 window spans -1.5 ... 1.5 drawing units each way from the grid centre.
  for (const ResultRecord& r : records) {
    for (int i = 0; i < NODE_COUNT; ++i) {
      const double x = ((*nodes)[i].x + vx(r, DISPLACEMENT, i) - HW) / SCALE_INIT;
      const double y = ((*nodes)[i].y + vy(r, DISPLACEMENT, i) - HH) / SCALE_INIT;
      ASSERT_LE(std::fabs(x), 1.5) << "node " << i << " at t " << r.time();
      ASSERT_LE(std::fabs(y), 1.5) << "node " << i << " at t " << r.time();
    }
  }
}

TEST_F(DemoDataTest, OutputIsTheSameEveryTime) {
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string first = slurp(dir->path() + "/result.dat");
  ScratchDirectory again;
  std::string error;
  ASSERT_TRUE(demo::writeDemoData(again.path(), error)) << error;
  EXPECT_TRUE(first == slurp(again.path() + "/result.dat"));
}

TEST(DemoDataWrite, AFolderThatCannotBeWrittenIsReported) {
  std::string error;
  EXPECT_FALSE(demo::writeDemoData("/nonexistent/folder", error));
  EXPECT_NE(error.find("/nonexistent/folder/geodata.dat"), std::string::npos) << error;
}

}  // namespace
