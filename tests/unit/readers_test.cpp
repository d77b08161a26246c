// The node, element and result readers over real descriptors.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

#include "model/readers.h"
#include "viewer_fixture.h"

namespace {

using ReadersTest = ViewerTest;

std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every line break replaced by `separator`.
std::string relaid(std::string text, const std::string& separator) {
  std::string out;
  for (char c : text) out += (c == '\n') ? separator : std::string(1, c);
  return out;
}

TEST_F(ReadersTest, LayoutOfRecordsDoesNotMatterAndEachCallTakesTheNextBlock) {
  const std::string nodes = slurp("geodata.dat"), elements = slurp("tridata.dat");
  for (const char* separator : {"\n", " ", "\t\r\n\v\f  ", "\n\n\n"}) {
    SCOPED_TRACE(testing::PrintToString(separator));
    NodeTable nodeTable{};
    ElementTable elementTable{};
    InputStream s;
    openText(s, relaid(nodes, separator) + "0 7 8");
    readNodeBlock(s, nodeTable);
    for (int i = 0; i < NODE_COUNT; ++i) {
      ASSERT_NEAR(nodeTable[i].x, (i % (NX + 1)) * DX, 1e-12) << "node " << i;
      ASSERT_NEAR(nodeTable[i].y, (i / (NX + 1)) * DY, 1e-12) << "node " << i;
    }
    readNodeBlock(s, nodeTable);  // a second block of one node: the rest stay
    EXPECT_EQ(nodeTable[0].x, 7.0);
    EXPECT_EQ(nodeTable[0].y, 8.0);
    EXPECT_NEAR(nodeTable[1].x, DX, 1e-12);
    openText(s, relaid(elements, separator));
    readElementBlock(s, elementTable);
    const Element& last = elementTable[ELEMENT_COUNT - 1];
    EXPECT_EQ(last.nodes[0], NODE_COUNT - NX - 3);
    EXPECT_EQ(last.nodes[1], NODE_COUNT - 1);
    EXPECT_EQ(last.nodes[2], NODE_COUNT - 2);
  }
}

TEST_F(ReadersTest, MalformedTextStopsTheBlockWhereItStands) {
  InputStream s;
  NodeTable nodes{};
  nodes[1].y = 43.0;
  nodes[2].x = 44.0;
  openText(s, "0 1.5 2.5\n1 9.0 oops 9.0\n2 3 4\n");
  readNodeBlock(s, nodes);
  readNodeBlock(s, nodes);
  EXPECT_EQ(nodes[0].x, 1.5);
  EXPECT_EQ(nodes[1].x, 9.0);   // converted before the failing field
  EXPECT_EQ(nodes[1].y, 43.0);  // the failing field keeps its value
  EXPECT_EQ(nodes[2].x, 44.0);  // nothing after it is read, now or later

  // A real where an integer is expected: "1.5" gives 1 and leaves ".5", which no integer starts.
  ElementTable elements{};
  elements[0].nodes[2] = -7;
  openText(s, "0 1.5 2 3\n1 4 5 6\n");
  readElementBlock(s, elements);
  EXPECT_EQ(elements[0].nodes[0], 1);
  EXPECT_EQ(elements[0].nodes[1], 0);
  EXPECT_EQ(elements[0].nodes[2], -7);
  EXPECT_EQ(elements[1].nodes[0], 0);
}

TEST_F(ReadersTest, ResultRecordsAreReadInFileOrderAndATruncatedOneZeroesTheRest) {
  InputStream s;
  openText(s, recordText(0.25, 2, 0.001, -0.002) + recordText(0.5, NODE_COUNT + 3, 9.0, 8.0) +
                  (HEADER_VALUES == 1 ? "2.0 0.001" : "2.0 0.5 0.001"));
  ResultRecord r;
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_EQ(r.time(), 0.25);
  EXPECT_EQ(r.header[HEADER_VALUES - 1], HEADER_VALUES == 1 ? 0.25 : 0.5);
  EXPECT_EQ(r.vectors[2][0], 0.001);
  EXPECT_EQ(r.vectors[2][1], -0.002);
  EXPECT_EQ(r.base[BASE_PAIRS - 1][0], 0.25);
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_EQ(r.time(), 0.5);
  EXPECT_EQ(r.vectors[2][0], 0.0);
  EXPECT_EQ(r.vectors[NODE_COUNT + 3][0], 9.0);  // the ignored pairs are consumed in place
  // The last record stops inside node 0's displacement: what is missing reads as zero.
  ASSERT_TRUE(readResultRecord(s, r));
  EXPECT_EQ(r.time(), 2.0);
  EXPECT_EQ(r.vectors[0][0], 0.001);
  EXPECT_EQ(r.vectors[0][1], 0.0);
  EXPECT_EQ(r.vectors[NODE_COUNT + 3][0], 0.0);
  EXPECT_EQ(r.base[0][0], 0.0);
  EXPECT_FALSE(readResultRecord(s, r));
  EXPECT_EQ(r.time(), 2.0);  // no time, no change: the caller shows the last record again
}

TEST_F(ReadersTest, AbsentStreamsADirectoryAndAPipeWithoutWriterReadAsEmpty) {
  ASSERT_EQ(::mkdir("result", 0755), 0);
  ASSERT_EQ(::mkfifo("pipe", 0644), 0);
  for (const char* name : {"", "result", "pipe", "no-such-file"}) {
    SCOPED_TRACE(name);
    InputStream s;
    EXPECT_EQ(openStream(s, name), *name == 'r' || *name == 'p');  // must not wait for a writer
    NodeTable nodes{};
    nodes[0].x = 3.0;
    ElementTable elements{};
    elements[0].nodes[0] = 5;
    ResultRecord r;
    r.header[0] = 6.0;
    readNodeBlock(s, nodes);
    readElementBlock(s, elements);
    EXPECT_FALSE(readResultRecord(s, r));
    EXPECT_EQ(nodes[0].x, 3.0);
    EXPECT_EQ(elements[0].nodes[0], 5);
    EXPECT_EQ(r.time(), 6.0);
  }
}

}  // namespace
