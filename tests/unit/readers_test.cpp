// The node, element and result readers over real descriptors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <sys/stat.h>

#include "model/readers.h"
#include "viewer_fixture.h"

namespace {

using ReadersTest = ViewerTest;

// Replaces every line break by `separator`, or splits records at odd places.
std::string relaid(const std::string& text, const std::string& separator) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += separator;
    } else {
      out += c;
    }
  }
  return out;
}

TEST_F(ReadersTest, LayoutOfRecordsDoesNotMatter) {
  const std::string nodes = restNodesText();
  const std::string elements = trianglesText();
  const struct {
    const char* name;
    std::string separator;
  } layouts[] = {{"one record per line", "\n"},
                 {"all on one line", " "},
                 {"mixed white space", "\t\r\n\v\f  "},
                 {"many lines", "\n\n\n"}};
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    NodeTable nodeTable{};
    ElementTable elementTable{};
    InputStream s;
    openText(s, relaid(nodes, layout.separator));
    readNodeBlock(s, nodeTable);
    openText(s, relaid(elements, layout.separator));
    readElementBlock(s, elementTable);
    closeStream(s);
    for (int i = 0; i < NODE_COUNT; ++i) {
      ASSERT_DOUBLE_EQ(nodeTable[i].x, (i % (NX + 1)) * DX) << "node " << i;
      ASSERT_DOUBLE_EQ(nodeTable[i].y, (i / (NX + 1)) * DY) << "node " << i;
    }
    const Element& last = elementTable[ELEMENT_COUNT - 1];
    EXPECT_EQ(last.nodes[0], NODE_COUNT - NX - 3);
    EXPECT_EQ(last.nodes[1], NODE_COUNT - 1);
    EXPECT_EQ(last.nodes[2], NODE_COUNT - 2);
  }
}

TEST_F(ReadersTest, EachCallTakesTheNextBlockAndAnExhaustedStreamChangesNothing) {
  std::string second;
  for (int i = 0; i < NODE_COUNT; ++i)
    second += std::to_string(i) + " 7 " + std::to_string(i) + "\n";
  InputStream s;
  openText(s, restNodesText() + second);
  NodeTable table{};
  readNodeBlock(s, table);
  EXPECT_DOUBLE_EQ(table[1].x, DX);
  readNodeBlock(s, table);
  EXPECT_DOUBLE_EQ(table[1].x, 7.0);
  EXPECT_DOUBLE_EQ(table[NODE_COUNT - 1].y, NODE_COUNT - 1);
  const NodeTable before = table;
  readNodeBlock(s, table);  // at the end: nothing converted, nothing changed
  for (int i = 0; i < NODE_COUNT; ++i) ASSERT_EQ(table[i].x, before[i].x);
  closeStream(s);
}

TEST_F(ReadersTest, MalformedTextStopsTheBlockWhereItStands) {
  InputStream s;
  NodeTable nodes{};
  nodes[1].x = 42.0;
  nodes[1].y = 43.0;
  nodes[2].x = 44.0;
  openText(s, "0 1.5 2.5\n1 9.0 oops 9.0\n2 3 4\n");
  readNodeBlock(s, nodes);
  EXPECT_DOUBLE_EQ(nodes[0].x, 1.5);
  EXPECT_DOUBLE_EQ(nodes[1].x, 9.0);   // converted before the failing field
  EXPECT_DOUBLE_EQ(nodes[1].y, 43.0);  // the failing field keeps its value
  EXPECT_DOUBLE_EQ(nodes[2].x, 44.0);  // nothing after it is read, now or later
  readNodeBlock(s, nodes);
  EXPECT_DOUBLE_EQ(nodes[2].x, 44.0);

  // A real where an integer is expected: "1.5" gives 1 and leaves ".5", which no integer starts.
  ElementTable elements{};
  elements[0].nodes[2] = -7;
  openText(s, "0 1.5 2 3\n1 4 5 6\n");
  readElementBlock(s, elements);
  EXPECT_EQ(elements[0].nodes[0], 1);
  EXPECT_EQ(elements[0].nodes[1], 0);
  EXPECT_EQ(elements[0].nodes[2], -7);
  EXPECT_EQ(elements[1].nodes[0], 0);
  closeStream(s);
}

TEST_F(ReadersTest, ResultRecordsAreReadInFileOrder) {
  InputStream s;
  openText(s, recordText(0.25, 2, 0.001, -0.002) + recordText(0.5, NODE_COUNT + 3, 9.0, 8.0));
  ResultRecord r;
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_DOUBLE_EQ(r.time(), 0.25);
  if (HEADER_VALUES > 1) {
    EXPECT_DOUBLE_EQ(r.header[HEADER_VALUES - 1], 0.5);
  }
  EXPECT_DOUBLE_EQ(r.vectors[2][0], 0.001);
  EXPECT_DOUBLE_EQ(r.vectors[2][1], -0.002);
  EXPECT_DOUBLE_EQ(r.base[BASE_PAIRS - 1][0], 0.25);
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_DOUBLE_EQ(r.time(), 0.5);
  EXPECT_DOUBLE_EQ(r.vectors[2][0], 0.0);
  EXPECT_DOUBLE_EQ(r.vectors[NODE_COUNT + 3][0], 9.0);  // the ignored pairs are consumed in place
  EXPECT_DOUBLE_EQ(r.base[0][0], 0.25);
  EXPECT_FALSE(readResultRecord(s, r));
  EXPECT_DOUBLE_EQ(r.time(), 0.5);  // no time, no change: the caller shows the last record again
  closeStream(s);
}

TEST_F(ReadersTest, TruncatedRecordKeepsItsTimeAndZeroesWhatIsMissing) {
  InputStream s;
  ResultRecord r;
  openText(s, recordText(1.0, 0, 0.003, 0.004));
  ASSERT_TRUE(readResultRecord(s, r));
  ASSERT_DOUBLE_EQ(r.vectors[0][0], 0.003);
  // The next record stops in the middle of node 0's displacement.
  openText(s, HEADER_VALUES == 1 ? "2.0 0.001 0.0" : "2.0 0.5 0.001 0.0");
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_DOUBLE_EQ(r.time(), 2.0);
  EXPECT_DOUBLE_EQ(r.vectors[0][0], 0.001);
  EXPECT_DOUBLE_EQ(r.vectors[0][1], 0.0);
  for (int i = 1; i < VECTOR_PAIRS; ++i) ASSERT_EQ(r.vectors[i][0], 0.0) << i;
  EXPECT_EQ(r.base[0][0], 0.0);
  EXPECT_FALSE(readResultRecord(s, r));
  closeStream(s);
}

TEST_F(ReadersTest, AbsentStreamsChangeNothing) {
  InputStream absent;
  NodeTable nodes{};
  nodes[0].x = 3.0;
  ElementTable elements{};
  elements[0].nodes[0] = 5;
  ResultRecord r;
  r.header[0] = 6.0;
  readNodeBlock(absent, nodes);
  readElementBlock(absent, elements);
  EXPECT_FALSE(readResultRecord(absent, r));
  EXPECT_EQ(nodes[0].x, 3.0);
  EXPECT_EQ(elements[0].nodes[0], 5);
  EXPECT_EQ(r.time(), 6.0);
  EXPECT_FALSE(openStream(absent, "no-such-file.dat"));
  EXPECT_FALSE(readResultRecord(absent, r));
}

TEST_F(ReadersTest, ADirectoryOrAPipeWithoutWriterInAFilesPlaceReadsAsEmpty) {
  ASSERT_EQ(::mkdir("result.dat", 0755), 0);
  ASSERT_EQ(::mkfifo("geodata.dat", 0644), 0);
  for (const char* name : {"result.dat", "geodata.dat"}) {
    SCOPED_TRACE(name);
    InputStream s;
    ResultRecord r;
    if (openStream(s, name)) {  // must not wait for a writer
      EXPECT_FALSE(readResultRecord(s, r));
    }
    closeStream(s);
  }
}

}  // namespace
