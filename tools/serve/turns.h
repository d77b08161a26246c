// Turns at reading flat out: a run with more to read than one look takes waits its turn, so that
// a study's hundreds of runs read at once (a server started on ended runs) take the server's one
// thread a look at a time, between which it answers every connection; and a run someone watches
// goes before those nobody does.
#pragma once

#include <deque>

#include "serve/net.h"

namespace companion {

class RunFollow;

class ReadTurns {
 public:
  explicit ReadTurns(net::io_context& io) : io_(io) {}

  // `run` looks again at its turn: before every run nobody watches, if `watched`. The run that
  // just looked goes on until it has read all there is, then the next.
  void want(RunFollow* run, bool watched);
  // No more turns: the server stops.
  void clear();

 private:
  void next();

  net::io_context& io_;
  std::deque<RunFollow*> watched_, others_;
  RunFollow* looking_ = nullptr;  // the run whose turn it is
  bool posted_ = false;
  bool stopped_ = false;
};

}  // namespace companion
