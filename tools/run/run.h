// The viewer's run as a companion walks it: the records of the three files in the working folder,
// step by step through the viewer's own replay step, with the tables the viewer holds at each.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/program.h"
#include "common/progress.h"
#include "common/step_writer.h"
#include "model/replay.h"

namespace companion {

// The cut of the run by --from and --to, in the result file's time (seconds), ends included.
struct TimeRange {
  double from = -std::numeric_limits<double>::infinity();
  double to = std::numeric_limits<double>::infinity();
};

// --every N, --from T and --to T as the writers of a run take them; a companion whose --every
// means more says so in `everyHelp`, its line in --help.
inline constexpr const char* EVERY_HELP =
    "every N-th time step of the run, the first and the last included";
std::vector<Option> cutOptions(long& every, TimeRange& range, const char* everyHelp = EVERY_HELP);

// Throws when --from lies after --to, naming both.
void checkRange(const TimeRange& range);

// The path of file `name` in `folder`: the name alone in the working folder (".").
std::string inFolder(const std::string& folder, const char* name);

class Run {
 public:
  // Opens the three files of `folder` as the viewer does at start-up. Stricter than the viewer,
  // it throws naming the first that is missing, unreadable or a folder, so that a typo is not an
  // empty run. A read from any of them that waits on a pipe ends when a stop signal comes.
  Run(const Program& program, TimeRange range, const std::string& folder = ".");

  // A run whose result records the caller hands over with feed() instead of the replay reading
  // RESULT_FILE itself: for a companion that follows the file as a solver writes it, and must
  // never block on a record that is still being written. Opens the node and element files alone,
  // with the same checks, and refuses them if they are named pipes, whose reads would block; every
  // record still goes through the viewer's replay step, and RESULT_FILE is never opened.
  struct FedRecords {};
  Run(const Program& program, TimeRange range, FedRecords, const std::string& folder = ".");

  // Hands the replay bytes of the result file, read where they lie: advance() reads records from
  // them, after what it had not read of the bytes fed before. They must stay where they are until
  // endFeed(). Only a run made with FedRecords takes them.
  void feed(const char* data, std::size_t size);
  // The bytes last fed are about to go: what the replay has not read of them is kept for the
  // next feed(). Nothing is kept but white space, unless the fields of the text and the records
  // the replay reads went apart ("1-2" is two numbers to the replay, one field between blanks).
  void endFeed();

  // One record of the run, as next() takes them: Shown when it lies within the range (scene()
  // shows it), Skipped before range.from, Ended once the run has ended (as for next()).
  enum class Step { Shown, Skipped, Ended };
  Step advance();

  // Steps to the next record of the run within the range and returns true; scene() is then what
  // the viewer shows at that record. Returns false once the run has ended: at the end time, at
  // the end of the data as in the viewer, or beyond range.to. The step that finds the end of the
  // data has no record of its own and is never returned; a record whose time is not a number ends
  // the run and is returned, as the viewer still draws it. After the first step, a node or
  // element file from which not one record could be read is warned about. Throws Interrupted
  // when a stop signal came.
  bool next();

  Scene scene() const;
  bool ended() const { return ended_; }          // next() and advance() give no more records
  long recordsRead() const { return records_; }  // records of the run read so far
  long steps() const { return steps_; }          // of those, the ones returned by next()
  // The share of the result file read so far, 0 ... 1; 0 where it is not known (a pipe).
  double fractionRead() const;

  // After the run: throws if next() never returned a record, saying why (nothing in the result
  // file, or nothing within --from and --to).
  void requireSteps() const;

 private:
  // The members, the files' paths in `folder` among them; nothing opened yet.
  struct Paths {};
  Run(const Program& program, TimeRange range, const std::string& folder, Paths);

  const Program& program_;
  TimeRange range_;
  std::unique_ptr<Replay> replay_;                   // large: the streams' buffers and the tables
  std::string nodeFile_, elementFile_, resultFile_;  // their paths, as messages name them
  std::string unread_;  // fed bytes the replay had not read at endFeed()
  bool ended_ = false;
  long records_ = 0;
  long steps_ = 0;
  double firstTime_ = 0.0, lastTime_ = 0.0;  // of the records read
  long long resultBytes_ = 0;                // the result file's size, 0 for a pipe
  bool resultIsPipe_ = false;
};

// A step kept for later: the record and the tables the viewer held at it. Large: allocate it once.
struct Snapshot {
  ResultRecord record;
  NodeTable nodes{};
  ElementTable elements{};

  void take(const Scene& scene);
  Scene scene() const { return {record, nodes, elements}; }
};

// The step the viewer shows, as writers take it.
StepData stepOf(const Scene& scene);

// Every `every`-th step of a run, the first and the last included: a step left out is kept until
// the next one shows it was not the last.
class EveryNth {
 public:
  using Write = std::function<void(const StepData&)>;
  explicit EveryNth(long every) : every_(every) {}

  // The step the run has just shown: written unless it is left out.
  void shown(const Run& run, const Write& write);
  // The run has ended: its last step is written if it was left out.
  void ended(const Write& write);

 private:
  long every_;
  bool lastSkipped_ = false;
  std::unique_ptr<Snapshot> skipped_;  // allocated once a step is left out: most runs are whole
};

// Writes every `every`-th step of the run into `writer`, the first and the last included (a step
// left out is kept until the next one shows it was not the last), showing progress; throws if
// the run held no step. writeRun then finishes the writer; writeSteps leaves it open for more.
void writeSteps(Run& run, StepWriter& writer, long every, Progress& progress);
void writeRun(Run& run, StepWriter& writer, long every, Progress& progress);

}  // namespace companion
