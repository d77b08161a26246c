// The live server's run apart from its network: the frames the encoder's chunks become, the hub
// that keeps the run and sends it to each client, and how far a client may fall behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "serve/backlog.h"
#include "serve/frames.h"
#include "serve/hub.h"

namespace {

using companion::Backlog;
using companion::Buffer;
using companion::Hub;
using companion::Piece;
using companion::PieceEncoder;
using companion::StepData;
using companion::Verdict;

// One row: what happens to the queue, then whether the client may stay and how far behind it is.
struct BacklogRow {
  const char* what;
  enum { CatchUp, Queue, Written, Clear } act;
  std::size_t bytes;
  bool stays;
  std::size_t behind;
};

TEST(Backlog, TheRunSoFarNeverCountsAgainstAClientButNewFramesDo) {
  const BacklogRow rows[] = {
      {"a long run sent on connecting", BacklogRow::CatchUp, 50, true, 0},
      {"new frames up to the limit", BacklogRow::Queue, 10, true, 10},
      {"one byte beyond it", BacklogRow::Queue, 1, false, 11},
      {"written: the catch-up goes first", BacklogRow::Written, 40, true, 11},
      {"the rest of the catch-up and a new byte", BacklogRow::Written, 11, true, 10},
      {"room again for a byte", BacklogRow::Queue, 0, true, 10},
      {"all written", BacklogRow::Written, 10, true, 0},
      {"a new run forgets what waited", BacklogRow::Queue, 7, true, 7},
      {"", BacklogRow::Clear, 0, true, 0},
      {"a catch-up after new frames still does not count", BacklogRow::CatchUp, 100, true, 0},
      {"", BacklogRow::Queue, 10, true, 10},
      {"", BacklogRow::Queue, 1, false, 11},
  };
  Backlog backlog(10);
  for (const BacklogRow& row : rows) {
    SCOPED_TRACE(row.what);
    bool stays = true;
    switch (row.act) {
      case BacklogRow::CatchUp: backlog.catchUp(row.bytes); break;
      case BacklogRow::Queue: stays = backlog.queue(row.bytes); break;
      case BacklogRow::Written: backlog.written(row.bytes); break;
      case BacklogRow::Clear: backlog.clear(); break;
    }
    EXPECT_EQ(stays, row.stays);
    EXPECT_EQ(backlog.behind(), row.behind);
  }
}

// A frame read back as a browser reads it: kind, size, payload; a steps chunk inflated to the
// first step and the count it holds.
struct Frame {
  char kind = 0;
  bool catchUp = false;
  long first = -1, count = 0;
  Buffer bytes;
};

Frame readFrame(const Buffer& bytes, bool catchUp) {
  Frame f{(*bytes)[0], catchUp, -1, 0, bytes};
  std::uint32_t size = 0;
  for (int k = 0; k < 4; ++k)
    size |= std::uint32_t{static_cast<unsigned char>((*bytes)[1 + k])} << (8 * k);
  EXPECT_EQ(size + 5, bytes->size()) << "kind " << f.kind;
  if (f.kind == 'S') {
    unsigned char head[8];
    z_stream z{};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes->data() + 5));
    z.avail_in = static_cast<uInt>(bytes->size() - 5);
    z.next_out = head;
    z.avail_out = sizeof head;
    inflate(&z, Z_SYNC_FLUSH);
    inflateEnd(&z);
    std::uint32_t first, count;
    std::memcpy(&first, head, 4);
    std::memcpy(&count, head + 4, 4);
    f.first = first;
    f.count = count;
  }
  return f;
}

class FakeClient : public companion::Client {
 public:
  void send(const Buffer& frame) override { frames.push_back(readFrame(frame, false)); }
  void catchUp(const Buffer& frame) override { frames.push_back(readFrame(frame, true)); }
  void forget() override {
    ++forgotten;
    mesh = nullptr;
  }
  std::size_t behind() const override { return 0; }

  // The steps the steps frames held, in the order they came; fails on a gap or a repeat.
  std::vector<long> steps() const {
    std::vector<long> got;
    for (const Frame& f : frames) {
      if (f.kind != 'S') continue;
      EXPECT_EQ(f.first, static_cast<long>(got.empty() ? f.first : got.back() + 1));
      for (long k = f.first; k < f.first + f.count; ++k) got.push_back(k);
    }
    return got;
  }
  int count(char kind) const {
    int n = 0;
    for (const Frame& f : frames) n += f.kind == kind;
    return n;
  }

  std::vector<Frame> frames;
  int forgotten = 0;
};

// A mesh of a hundred nodes, its payload past 256 bytes so that every byte of a frame's size
// counts, and steps whose node 0 moves by the step's index.
struct Steps {
  std::vector<NodePosition> nodes = std::vector<NodePosition>(100);
  std::vector<Element> elements = std::vector<Element>(1, Element{{0, 1, 2}});
  double moves[100][2] = {};

  StepData step(long k) {
    moves[0][0] = static_cast<double>(k);
    return {0.01 * static_cast<double>(k), moves, {nodes.data(), nodes.size(), elements.data(), 1}};
  }
};

companion::EncodingOptions blocksOf(std::size_t steps) {
  companion::EncodingOptions options;
  options.blockSteps = steps;
  return options;
}

TEST(PieceEncoder, PiecesKnowTheirStepsAndCarryTheMeshTheyAreDrawnWith) {
  Steps run;
  PieceEncoder encoder(blocksOf(3));
  std::vector<Piece> pieces;
  for (long k = 0; k < 8; ++k) {
    if (k == 5) run.nodes[7].x = 1.0;  // a new mesh: the open block ends before it
    encoder.add(run.step(k), pieces);
  }
  encoder.flush(pieces);
  // Blocks of three, cut where the mesh changes: 0-2, 3-4, then 5-7 with the new mesh.
  const long want[][2] = {{0, 3}, {3, 2}, {5, 3}};
  ASSERT_EQ(pieces.size(), 3u);
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    SCOPED_TRACE(k);
    const Frame chunk = readFrame(pieces[k].chunk, false);
    EXPECT_EQ(chunk.kind, 'S');
    EXPECT_EQ(pieces[k].first, want[k][0]);
    EXPECT_EQ(pieces[k].count, want[k][1]);
    EXPECT_EQ(chunk.first, pieces[k].first);
    EXPECT_EQ(chunk.count, pieces[k].count);
    EXPECT_EQ(readFrame(pieces[k].mesh, false).kind, 'M');
  }
  EXPECT_EQ(pieces[0].mesh, pieces[1].mesh);
  EXPECT_NE(*pieces[1].mesh, *pieces[2].mesh);
}

// Publishes each step as a look at the file would bring it, one at a time.
void addSteps(Hub& hub, Steps& run, long from, long to) {
  for (long k = from; k < to; ++k) {
    hub.add(run.step(k));
    hub.publish();
  }
}

// A hub of run 7, its blocks of four steps.
class HubTest : public testing::Test {
 protected:
  HubTest() { hub.begin(7); }
  Steps run;
  Hub hub{blocksOf(4)};
};

TEST_F(HubTest, AClientThatJoinsLateGetsTheWholeRunOnceThenWhatComes) {
  const auto early = std::make_shared<FakeClient>();
  hub.join(early, {});
  addSteps(hub, run, 0, 10);

  const auto late = std::make_shared<FakeClient>();
  hub.join(late, {});
  addSteps(hub, run, 10, 12);
  for (const auto* client : {early.get(), late.get()}) {
    SCOPED_TRACE(client == early.get() ? "early" : "late");
    EXPECT_EQ(client->steps().size(), 12u);
    EXPECT_EQ(client->steps().front(), 0);
    EXPECT_EQ(client->count('M'), 1);  // both encoders' meshes are one
    EXPECT_EQ(client->frames.front().kind, 'R');
  }
  // The late one was sent the closed blocks, not the steps one by one, and all of it as its
  // catch-up; what came after, as new frames.
  long caughtUp = 0, pieces = 0;
  for (const Frame& f : late->frames) {
    if (f.kind != 'S') continue;
    ++pieces;
    if (f.catchUp) caughtUp += f.count;
    EXPECT_EQ(f.catchUp, f.first < 10);
  }
  EXPECT_EQ(caughtUp, 10);
  EXPECT_EQ(pieces, 2 + 2 + 2);  // blocks 0-3 and 4-7, steps 8 and 9, then 10 and 11
  EXPECT_EQ(early->count('S'), 12);
}

TEST_F(HubTest, AResumedClientGetsTheStepsFromWhereItWasOfItsOwnRunOnly) {
  addSteps(hub, run, 0, 10);
  Verdict resume;
  resume.resume = true;
  resume.run = 7;
  for (long from : {0L, 3L, 5L, 8L, 9L, 10L}) {
    SCOPED_TRACE(from);
    resume.from = from;
    const auto client = std::make_shared<FakeClient>();
    hub.join(client, resume);
    const std::vector<long> steps = client->steps();
    // The block that holds step `from` comes whole: the page takes steps it holds again.
    ASSERT_EQ(steps.empty(), from == 10);
    EXPECT_EQ(client->count('M'), steps.empty() ? 0 : 1);
    if (steps.empty()) continue;
    EXPECT_LE(steps.front(), from);
    EXPECT_GT(steps.front(), from - 4);
    EXPECT_EQ(steps.back(), 9);
  }
  resume.run = 6;  // another run's page: all of this one
  resume.from = 8;
  const auto other = std::make_shared<FakeClient>();
  hub.join(other, resume);
  EXPECT_EQ(other->steps().size(), 10u);
}

TEST_F(HubTest, ANewRunIsToldToEveryClientWhoForgetsTheOldAndGetsTheMeshAgain) {
  const auto client = std::make_shared<FakeClient>();
  hub.join(client, {});
  addSteps(hub, run, 0, 3);
  hub.end();
  EXPECT_EQ(client->frames.back().kind, 'E');
  const auto afterEnd = std::make_shared<FakeClient>();
  hub.join(afterEnd, {});
  EXPECT_EQ(afterEnd->frames.back().kind, 'E');
  EXPECT_TRUE(afterEnd->frames.back().catchUp);

  client->frames.clear();
  hub.begin(8);
  EXPECT_EQ(client->forgotten, 1);
  addSteps(hub, run, 0, 2);
  ASSERT_GE(client->frames.size(), 4u);
  EXPECT_EQ(client->frames[0].kind, 'R');
  EXPECT_EQ(client->frames[1].kind, 'M');
  EXPECT_EQ(client->steps(), (std::vector<long>{0, 1}));

  hub.leave(client.get());
  addSteps(hub, run, 2, 3);
  EXPECT_EQ(client->steps().size(), 2u);
}

}  // namespace
