// The server on one thread: listening, accepting, following result.dat, heartbeats, stopping.
#pragma once

#include <chrono>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/program.h"
#include "serve/follower.h"
#include "serve/hub.h"
#include "serve/net.h"
#include "serve/requests.h"
#include "serve/serve.h"

namespace companion {

class Session;

class Server {
 public:
  Server(const Program& program, const ServeSettings& settings, StepSource& source);
  void run();
  // The address to open, with the token.
  std::string url() const;

  Hub& hub() { return hub_; }
  const Access& access() const { return access_; }
  std::unordered_set<Session*>& sessions() { return sessions_; }
  // The live page, with `nonce` on its inline script and style.
  std::string page(const std::string& nonce) const;

 private:
  using Clock = std::chrono::steady_clock;

  void listen(const ServeSettings& settings);
  void accept();
  void waitForChanges();
  void waitForPipe(unsigned opens);
  void check();
  void look();
  void beginRun();
  void beat();
  void stop();

  const Program& program_;
  StepSource& source_;
  // Declared first, gone last: sessions leave it as they go, the last ones with the hub.
  std::unordered_set<Session*> sessions_;
  Access access_;
  std::vector<std::string> page_;  // the page's parts between its nonces
  ResultFollower follower_;
  net::io_context io_{1};
  Hub hub_;
  tcp::acceptor acceptor_{io_};
  net::posix::stream_descriptor changes_{io_}, stopped_{io_}, pipe_{io_};
  unsigned pipeOpens_ = 0;  // the follower's file that pipe_ waits on
  net::steady_timer checkTimer_{io_}, heartbeatTimer_{io_}, acceptTimer_{io_};
  bool ended_ = false;  // the run has ended: records are ignored until a new one
  Clock::time_point lastRecord_ = Clock::now();
  bool stopping_ = false;
};

}  // namespace companion
