// The server on one thread: listening, accepting, following result.dat, heartbeats, stopping.
#pragma once

#include <chrono>
#include <string>

#include "common/program.h"
#include "serve/context.h"
#include "serve/follower.h"
#include "serve/hub.h"
#include "serve/net.h"
#include "serve/requests.h"
#include "serve/serve.h"
#include "serve/watch.h"

namespace companion {

class Server {
 public:
  Server(const Program& program, const ServeSettings& settings, StepSource& source);
  void run();
  // The address to open, with the token.
  std::string url() const;
  const Access& access() const { return access_; }

 private:
  using Clock = std::chrono::steady_clock;

  void listen(const ServeSettings& settings);
  void accept();
  void waitForChanges();
  void waitForPipe();
  void check();
  void lookSoon();
  void lookOn(Clock::time_point since);
  void look();
  void take(const Arrival& arrival);
  void beginRun();
  void endRun();
  void beat();
  void stop();

  const Program& program_;
  StepSource& source_;
  // Declared first, gone last: connections leave it as they go, the last ones with the hub.
  Connections connections_;
  Access access_;
  LivePage page_;
  FileWatch watch_;
  ResultFollower follower_;
  net::io_context io_{1};
  Hub hub_;
  const SessionContext context_{hub_, access_, page_, connections_};
  tcp::acceptor acceptor_{io_};
  std::size_t maxConnections_ = 0;
  bool saidFull_ = false;
  net::posix::stream_descriptor changes_{io_}, stopped_{io_}, pipe_{io_};
  bool waitingForChanges_ = false;
  unsigned pipeOpens_ = 0;  // the follower's file that pipe_ waits on
  bool waitingForPipe_ = false;
  net::steady_timer checkTimer_{io_}, heartbeatTimer_{io_}, acceptTimer_{io_}, lookTimer_{io_};
  bool lookDue_ = false;  // lookTimer_ is set for the next look
  Clock::time_point lastLook_{};
  bool ended_ = false;          // the run has ended: records are ignored until a new one
  bool saidNotFinite_ = false;  // of this run
  std::string failed_;          // the last failure said, until a look goes through
  Clock::time_point lastRecord_ = Clock::now();
  bool stopping_ = false;
};

}  // namespace companion
