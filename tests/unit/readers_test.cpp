// The readers' contract: records are taken in file order however they are laid out; a field that
// fails keeps its destination's value and ends the block; a record cut short reads as zeros from
// where it stops; a stream stuck on malformed text changes nothing more.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "model/readers.h"
#include "viewer_fixture.h"

namespace {

// The readers' destinations, first filled with a value no file below holds, and what one node
// block, one element block and the records of the result file until it fails read into them.
struct Reading {
  NodeTable nodes;
  ElementTable elements;
  ResultRecord record;
  int nodeCount = 0, elementCount = 0, records = 0;

  Reading(const std::string& geo, const std::string& tri, const std::string& res) {
    nodes.fill({7.5, 7.5});
    elements.fill({{7, 7, 7}});
    const ScratchDirectory dir;
    dir.write("g", geo);
    dir.write("t", tri);
    dir.write("r", res);
    InputStream g, e, r;
    openStream(g, "g");
    openStream(e, "t");
    openStream(r, "r");
    nodeCount = readNodeBlock(g, nodes);
    elementCount = readElementBlock(e, elements);
    while (readResultRecord(r, record)) ++records;
    // A second block finds the end of the data, or the same malformed text: nothing changes.
    const NodeTable before = nodes;
    EXPECT_EQ(readNodeBlock(g, nodes), 0);
    EXPECT_EQ(std::memcmp(&before, &nodes, sizeof nodes), 0);
  }
};

// Records of each file as rows of fields, joined with the separators of a layout.
std::string layout(int rows, int fields, const char* field, const char* row,
                   std::string (*value)(int, int)) {
  std::string text;
  for (int i = 0; i < rows; ++i) {
    for (int k = 0; k < fields; ++k) text += (k ? field : "") + value(i, k);
    text += row;
  }
  return text;
}

TEST(Readers, TheSameRecordsLaidOutInOtherWaysGiveTheSameTables) {
  auto node = [](int i, int k) {
    return k == 0 ? std::to_string(i) : std::to_string(i + k) + "e-3";
  };
  auto element = [](int e, int k) { return k == 3 ? "-2147483648" : std::to_string(e + k); };
  auto value = [](int r, int k) {
    return k == 0 ? std::to_string(r + 0.25) : "-" + std::to_string(k) + ".5";
  };
  const struct {
    const char* field;
    const char* row;
  } layouts[] = {{" ", "\n"}, {" ", " "}, {"\n", "\n"}, {"\t\r\n", "\r\n\n\v\f"}};
  std::unique_ptr<Reading> first;
  for (const auto& l : layouts) {
    SCOPED_TRACE("fields apart by '" + std::string(l.field) + "', records by '" + l.row + "'");
    auto got = std::make_unique<Reading>(layout(NODE_COUNT, 3, l.field, l.row, node),
                                         layout(ELEMENT_COUNT, 4, l.field, l.row, element),
                                         layout(2, RECORD_VALUES, l.field, l.row, value));
    EXPECT_EQ(got->nodeCount, NODE_COUNT);
    EXPECT_EQ(got->elementCount, ELEMENT_COUNT);
    EXPECT_EQ(got->records, 2);
    if (first) {
      EXPECT_EQ(std::memcmp(&first->nodes, &got->nodes, sizeof(NodeTable)), 0);
      EXPECT_EQ(std::memcmp(&first->elements, &got->elements, sizeof(ElementTable)), 0);
      EXPECT_EQ(std::memcmp(&first->record, &got->record, sizeof(ResultRecord)), 0);
      continue;
    }
    EXPECT_EQ(got->nodes[NODE_COUNT - 1].y, (NODE_COUNT + 1) * 1e-3);
    EXPECT_EQ(got->elements[ELEMENT_COUNT - 1].nodes[2], -2147483648);
    EXPECT_EQ(got->record.time(), 1.25);
    EXPECT_EQ(got->record.base[BASE_PAIRS - 1][1], -(RECORD_VALUES - 1) - 0.5);
    first = std::move(got);
  }
}

TEST(Readers, AFieldThatFailsKeepsItsValueAndEndsTheBlock) {
  // The start of a record: its header, and the displacements of nodes 0 and 1.
  std::string cut = "2";
  for (int k = 1; k < HEADER_VALUES; ++k) cut += " 0.5";
  cut += " 0 -0.25 1e-3 -1.25 ";
  const std::string first = recordText(1.0, 0, 0.5, 0.25);
  const struct {
    const char* why;
    std::string geo, tri, res;
    int nodes, elements;
    NodePosition node1;
    Element element1;
  } rows[] = {
      // "1.5" read as a node number is 1, and ".5" is then x: node 1 is (0.5, 3), and "4"
      // starts a record of which nothing more comes. The last record is cut short.
      {"a real where an integer belongs",
       "0 1 2\n1.5 3 4\n",
       "0 1 2 3\n1 4 5 6.5\n",
       first + cut,
       2,
       2,
       {0.5, 3.0},
       {{4, 5, 6}}},
      {"a word where a number belongs",
       "0 1 2\n1 3 y 2 5 6\n",
       "0 1 2 3\n1 4 x\n",
       first + cut + "x 1 2 3\n",
       1,
       1,
       {3.0, 7.5},
       {{4, 7, 7}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    const Reading got(row.geo, row.tri, row.res);
    EXPECT_EQ(got.nodeCount, row.nodes);
    EXPECT_EQ(got.elementCount, row.elements);
    EXPECT_EQ(got.nodes[1].x, row.node1.x);  // converted before the failure
    EXPECT_EQ(got.nodes[1].y, row.node1.y);  // or, failed, keeps its value
    EXPECT_EQ(got.nodes[2].x, 7.5);          // and the block ends there
    for (int k = 0; k < 3; ++k) EXPECT_EQ(got.elements[1].nodes[k], row.element1.nodes[k]);
    EXPECT_EQ(got.elements[2].nodes[0], 7);
    // The last record reads its values up to where it stops, and zeros after them.
    EXPECT_EQ(got.records, 2);
    EXPECT_EQ(got.record.time(), 2.0);
    EXPECT_EQ(got.record.vectors[1][0], 1e-3);
    EXPECT_EQ(got.record.vectors[1][1], -1.25);
    EXPECT_EQ(got.record.vectors[2][0], 0.0);
    EXPECT_EQ(got.record.base[BASE_PAIRS - 1][1], 0.0);
  }
}

}  // namespace
