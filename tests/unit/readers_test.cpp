// The readers' contract: records are taken in file order however they are laid out; a field that
// fails keeps its destination's value and ends the block; a record cut short reads as zeros from
// where it stops; a stream stuck on malformed text changes nothing more.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/readers.h"
#include "viewer_fixture.h"

namespace {

// The three readers' destinations, filled with a value no file below holds.
struct Tables {
  NodeTable nodes;
  ElementTable elements;
  ResultRecord record;
  Tables() {
    nodes.fill({7.5, 7.5});
    elements.fill({{7, 7, 7}});
    for (double& v : record.header) v = 7.5;
  }
};

// Reads one node block, one element block and records until the result file fails, from files of
// the given texts; returns the counts and the number of records read.
struct Reading {
  int nodes = 0, elements = 0, records = 0;
};
Reading readAll(const ScratchDirectory& dir, const std::string& geo, const std::string& tri,
                const std::string& res, Tables& t) {
  dir.write("g", geo);
  dir.write("t", tri);
  dir.write("r", res);
  InputStream g, e, r;
  openStream(g, "g");
  openStream(e, "t");
  openStream(r, "r");
  Reading got{readNodeBlock(g, t.nodes), readElementBlock(e, t.elements), 0};
  while (readResultRecord(r, t.record)) ++got.records;
  // A second block finds the end of the data, or the same malformed text: nothing changes.
  const NodeTable nodes = t.nodes;
  EXPECT_EQ(readNodeBlock(g, t.nodes), 0);
  EXPECT_EQ(std::memcmp(&nodes, &t.nodes, sizeof nodes), 0);
  return got;
}

// Every token of a result record: the time, the other header values, then the pairs.
std::vector<std::string> recordTokens(double t) {
  std::vector<std::string> tokens = {std::to_string(t)};
  for (int i = 1; i < HEADER_VALUES; ++i) tokens.push_back("0.5");
  for (int i = 0; i < VECTOR_PAIRS + BASE_PAIRS; ++i) {
    tokens.push_back(std::to_string(i) + "e-3");
    tokens.push_back("-" + std::to_string(i) + ".25");
  }
  return tokens;
}

TEST(Readers, TheSameRecordsLaidOutInOtherWaysGiveTheSameTables) {
  const ScratchDirectory dir;
  std::vector<std::vector<std::string>> nodes, elements, records;
  for (int i = 0; i < NODE_COUNT; ++i) {
    nodes.push_back({std::to_string(i), std::to_string(i) + ".5e-3", "-" + std::to_string(i)});
  }
  for (int e = 0; e < ELEMENT_COUNT; ++e) {
    elements.push_back({std::to_string(e), std::to_string(e % NODE_COUNT), "-3", "2147483647"});
  }
  records = {recordTokens(0.25), recordTokens(1.5)};
  // How tokens are separated, within a record and between records.
  const struct {
    const char* name;
    const char* field;
    const char* record;
  } layouts[] = {{"one record per line", " ", "\n"},
                 {"all on one line", " ", " "},
                 {"one field per line", "\n", "\n"},
                 {"tabs, carriage returns and blank lines", "\t\r\n", "\r\n\n\v\f"}};
  std::unique_ptr<Tables> first;
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.name);
    auto text = [&layout](const std::vector<std::vector<std::string>>& rows) {
      std::string out;
      for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k) out += (k ? layout.field : "") + row[k];
        out += layout.record;
      }
      return out;
    };
    auto t = std::make_unique<Tables>();
    const Reading got = readAll(dir, text(nodes), text(elements), text(records), *t);
    EXPECT_EQ(got.nodes, NODE_COUNT);
    EXPECT_EQ(got.elements, ELEMENT_COUNT);
    EXPECT_EQ(got.records, 2);
    if (!first) {
      EXPECT_EQ(t->nodes[NODE_COUNT - 1].x, (NODE_COUNT - 1 + 0.5) * 1e-3);
      EXPECT_EQ(t->nodes[NODE_COUNT - 1].y, -(NODE_COUNT - 1));
      EXPECT_EQ(t->elements[ELEMENT_COUNT - 1].nodes[2], 2147483647);
      EXPECT_EQ(t->record.time(), 1.5);
      EXPECT_EQ(t->record.base[BASE_PAIRS - 1][1], -(VECTOR_PAIRS + BASE_PAIRS - 1 + 0.25));
      first = std::move(t);
      continue;
    }
    EXPECT_EQ(std::memcmp(&first->nodes, &t->nodes, sizeof(NodeTable)), 0);
    EXPECT_EQ(std::memcmp(&first->elements, &t->elements, sizeof(ElementTable)), 0);
    EXPECT_EQ(std::memcmp(&first->record, &t->record, sizeof(ResultRecord)), 0);
  }
}

TEST(Readers, AFieldThatFailsKeepsItsValueAndEndsTheBlock) {
  const ScratchDirectory dir;
  // A record cut short after the displacements of nodes 0 and 1, and the same one with a word in
  // place of the next value and more values after it.
  const std::vector<std::string> whole = recordTokens(2.0);
  std::string cut;
  for (int k = 0; k < HEADER_VALUES + 4; ++k) cut += whole[static_cast<std::size_t>(k)] + " ";
  const std::string spoilt = cut + "x 1 2 3\n";
  const std::string first = recordText(1.0, 0, 0.5, 0.25);
  const struct {
    const char* why;
    std::string geo, tri, res;
    int nodes, elements;
    NodePosition node1;
    Element element1;
  } rows[] = {
      // "1.5" read as a node number is 1, and ".5" is then x: node 1 is (0.5, 3), and "4" starts
      // a record of which nothing more comes.
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
       first + spoilt,
       1,
       1,
       {3.0, 7.5},
       {{4, 7, 7}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    Tables t;
    const Reading got = readAll(dir, row.geo, row.tri, row.res, t);
    EXPECT_EQ(got.nodes, row.nodes);
    EXPECT_EQ(got.elements, row.elements);
    EXPECT_EQ(got.records, 2);
    EXPECT_EQ(t.nodes[0].x, 1.0);
    EXPECT_EQ(t.nodes[1].x, row.node1.x);  // converted before the failure
    EXPECT_EQ(t.nodes[1].y, row.node1.y);  // or, failed, keeps its value
    EXPECT_EQ(t.nodes[2].x, 7.5);          // and the block ends there
    for (int k = 0; k < 3; ++k) EXPECT_EQ(t.elements[1].nodes[k], row.element1.nodes[k]);
    EXPECT_EQ(t.elements[2].nodes[0], 7);
    // The record reads its values up to where it stops, and zeros after them.
    const ResultRecord& r = t.record;
    EXPECT_EQ(r.time(), 2.0);
    EXPECT_EQ(r.vectors[1][0], 1e-3);
    EXPECT_EQ(r.vectors[1][1], -1.25);
    EXPECT_EQ(r.vectors[2][0], 0.0);
    EXPECT_EQ(r.base[BASE_PAIRS - 1][1], 0.0);
  }
}

}  // namespace
