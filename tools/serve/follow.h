// One run a server follows: its result file looked at as it changes, what the study's index says
// of it, and, while someone watches it, its steps kept once and sent to each client (its hub).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "common/program.h"
#include "model/input_stream.h"
#include "serve/follower.h"
#include "serve/hub.h"
#include "serve/net.h"
#include "serve/serve.h"
#include "serve/turns.h"
#include "serve/watch.h"

namespace companion {

// What the index says of a run.
struct RunState {
  enum class Kind { Waiting, Live, Ended, Failed };
  Kind kind = Kind::Waiting;
  std::string reason;  // Failed: why, in words
  long steps = 0;      // the run's time steps so far
  double time = 0.0;   // the last one's time
  double age = -1.0;   // seconds since its last record came; -1 before any
};

// "waiting", "live", "ended", "failed".
const char* kindName(RunState::Kind kind);

// What every followed run of a server shares.
struct FollowSetup {
  net::io_context& io;
  FileWatch& watch;
  const Program& program;
  const ServeSettings& settings;
  bool study;            // runs are named in messages
  InputStream& scratch;  // where a run's times are read: one for every run, as one reads at a time
  ReadTurns& turns;      // for reading flat out
};

class RunFollow {
 public:
  using Clock = std::chrono::steady_clock;

  // Follows the run in `folder`, named `name`. A run that is `kept` (a server's one run) keeps its
  // steps always; any other, only while clients watch it.
  RunFollow(const FollowSetup& setup, std::string name, std::string folder, bool kept);
  ~RunFollow();
  RunFollow(const RunFollow&) = delete;
  RunFollow& operator=(const RunFollow&) = delete;

  const std::string& name() const { return name_; }

  // The first look, and the looks every so often where inotify cannot tell of changes.
  void start();
  // inotify told of a change to `watch`: looks soon if it is this run's.
  void changed(int watch);

  // The hub of the run's steps, kept from now on: the first time, the file is read again from its
  // start.
  Hub& hub();
  // A client left the hub: once none is left, the steps go after a while.
  void left();

  void heartbeat();
  RunState state() const;
  void stop();
  // The run's turn at reading flat out (ReadTurns).
  void turn();

 private:
  void check();
  void lookSoon();
  void lookOn(Clock::time_point since);
  void look();
  void followPipe();
  void take(const Arrival& arrival);
  void count(const Arrival& arrival);
  void beginRun();
  void endRun();
  void checkMesh();
  void warn(const std::string& message) const;
  void sayNotFinite() const;
  void drop();

  FollowSetup setup_;
  std::string name_, folder_;
  bool kept_;
  ResultFollower follower_;
  // While the steps are kept.
  std::unique_ptr<StepSource> source_;
  std::unique_ptr<Hub> hub_;
  bool sourceEnded_ = false;  // the kept run has ended: records are ignored until a new one

  // What the index says, counted from each record's time.
  long steps_ = 0;  // records of this reading of the run
  long seen_ = 0;   // the most records seen of the run
  double lastTime_ = 0.0;
  bool ended_ = false;                           // a record ended the run, or its data did
  Clock::time_point lastRecord_ = Clock::now();  // or the run's beginning, before any
  // Why the run cannot be shown, "" while it can: its mesh files, its result file (until records
  // come again), the replay that would take it.
  std::string meshProblem_, fileProblem_, sourceProblem_;

  net::steady_timer lookTimer_, checkTimer_, dropTimer_;
  bool lookDue_ = false;
  Clock::time_point lastLook_{};
  net::posix::stream_descriptor pipe_;
  unsigned pipeOpens_ = 0;
  bool waitingForPipe_ = false;
  std::string failure_;  // the last failure said, until a look goes through
  bool stopping_ = false;
};

}  // namespace companion
