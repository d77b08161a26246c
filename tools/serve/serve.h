// The server of meshplay-X-serve: the live page and the run's data, pushed to every browser as
// the solver writes result.dat. One thread serves every connection; nothing is written to disk.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/mesh_values.h"
#include "common/program.h"
#include "player/encoding.h"
#include "player/page_parts.h"
#include "serve/follower.h"

namespace companion {

// The run as the profile's walk finds it in the records the follower hands over.
class StepSource {
 public:
  virtual ~StepSource() = default;
  using Sink = std::function<void(const StepData&)>;

  // Begins a run: the node and element files opened again, nothing of the result file read yet.
  // Throws Failure when they cannot be opened.
  virtual void restart() = 0;

  // Takes the records of `arrival` and gives each step of the run they hold to `sink`, in order.
  // Returns true once the run has ended; then nothing more is taken until restart().
  virtual bool take(const Arrival& arrival, const Sink& sink) = 0;
};

// The port tried first when --port is not given; the next ones after it while they are taken.
inline constexpr long DEFAULT_PORT = 8765;

struct ServeSettings {
  // The folders of a study (each a run, or holding runs below it); none for the working folder's
  // one run.
  std::vector<std::string> folders;
  long port = DEFAULT_PORT;
  bool portGiven = false;
  std::string bind;  // --bind: "" for loopback alone
  // The pages' facts: for the one run's page, its title; for a study's, the program's.
  PageFacts facts;
  EncodingOptions encoding;
  std::size_t fieldsPerRecord = 0;  // of a result record
  // The run of a folder as the profile's walk finds it.
  std::function<std::unique_ptr<StepSource>(const std::string& folder)> source;
  // Whether a record whose time is `t` (`read`: a time could be read at all) ends its run, as the
  // viewer decides it.
  std::function<bool(double t, bool read)> endsRun;
};

// Finds the runs and listens; prints the URL to open, with its token, as one line on stdout, at
// once; then serves until a stop signal comes, and returns once every connection is closed.
// Throws Failure, before anything is served, when the one run's node or element file cannot be
// opened, a study's folder is none, the address is not one, or the port cannot be had.
void serve(const Program& program, const ServeSettings& settings);

}  // namespace companion
