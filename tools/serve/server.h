// The server on one thread: listening, accepting, finding and following the runs, heartbeats,
// stopping; and what it serves (its site): the one run's page and stream, or a study's index, its
// runs' states, their pages and streams, and comparisons of them.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "common/program.h"
#include "model/input_stream.h"
#include "serve/context.h"
#include "serve/follow.h"
#include "serve/net.h"
#include "serve/requests.h"
#include "serve/scan.h"
#include "serve/serve.h"
#include "serve/watch.h"

namespace companion {

class Server : public Site {
 public:
  Server(const Program& program, const ServeSettings& settings);
  ~Server() override;
  void run();
  // The address to open, with the token.
  std::string url() const;
  const Access& access() const { return access_; }

  Answer answer(const Verdict& verdict, const std::string& nonce) override;
  RunFollow* stream(const Verdict& verdict) override;

 private:
  bool study() const { return !settings_.folders.empty(); }
  void listen();
  void accept();
  void waitForChanges();
  void scan();
  void beat();
  void stop();
  RunFollow* listed(const std::string& name) const;
  const LivePage& runPage(const RunFollow& run);
  std::string runs() const;

  const Program& program_;
  const ServeSettings& settings_;
  // Declared first, gone last: connections leave it as they go, the last ones with the runs.
  Connections connections_;
  Access access_;
  net::io_context io_{1};
  FileWatch watch_;
  InputStream scratch_;
  ReadTurns turns_{io_};
  const FollowSetup setup_;
  std::unique_ptr<StudyScanner> scanner_;
  std::map<std::string, std::unique_ptr<RunFollow>> runs_;  // by name; the one run's is ""
  std::map<std::string, LivePage> pages_;                   // the runs' pages, made when asked
  const SessionContext context_{*this, access_, connections_};
  tcp::acceptor acceptor_{io_};
  std::size_t maxConnections_ = 0;
  bool saidFull_ = false;
  net::posix::stream_descriptor changes_{io_}, stopped_{io_};
  net::steady_timer heartbeatTimer_{io_}, acceptTimer_{io_}, scanTimer_{io_};
  bool stopping_ = false;
};

}  // namespace companion
