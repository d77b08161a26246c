// Walking the viewer's run.
#include "run/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "common/failure.h"
#include "common/signals.h"
#include "model/white_space.h"

namespace companion {

namespace {

// A missing or unreadable file, or a folder in its place, is an error for a companion.
void checkInput(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) throw systemFailure(path, errno);
  if (S_ISDIR(info.st_mode)) throw Failure(std::string(path) + ": is a folder, not a file");
  if (::access(path, R_OK) != 0) throw systemFailure(path, errno);
}

}  // namespace

std::string inFolder(const std::string& folder, const char* name) {
  return folder == "." ? std::string(name) : folder + "/" + name;
}

std::vector<Option> cutOptions(long& every, TimeRange& range, const char* everyHelp) {
  return {{"every", "N", everyHelp, "a whole number from 1 to 1000000000", &every, 1, 1e9},
          {"from", "T", "leave out the time steps before time T (seconds)", "a time in seconds",
           &range.from},
          {"to", "T", "leave out the time steps after time T (seconds)", "a time in seconds",
           &range.to}};
}

void checkRange(const TimeRange& range) {
  if (range.from > range.to) {
    throw Failure("--from " + messageNumber(range.from) + " lies after --to " +
                  messageNumber(range.to) + ": no time step lies between them");
  }
}

Run::Run(const Program& program, TimeRange range, const std::string& folder, Paths)
    : program_(program),
      range_(range),
      replay_(std::make_unique<Replay>()),
      nodeFile_(inFolder(folder, NODE_FILE)),
      elementFile_(inFolder(folder, ELEMENT_FILE)),
      resultFile_(inFolder(folder, RESULT_FILE)) {}

Run::Run(const Program& program, TimeRange range, const std::string& folder)
    : Run(program, range, folder, Paths{}) {
  for (const std::string* path : {&resultFile_, &nodeFile_, &elementFile_}) {
    checkInput(path->c_str());
  }
  for (InputStream* s : {&replay_->resultStream, &replay_->nodeStream, &replay_->elementStream}) {
    s->stopOnSignal = &stopFlag();
  }
  OpenedInputs opened;
  if (folder == ".") {
    opened = openInputs(*replay_);
  } else {  // a companion's run is read once: its result file is never opened again
    replay_->reopensResult = false;
    opened = {openStream(replay_->resultStream, resultFile_.c_str()),
              openStream(replay_->nodeStream, nodeFile_.c_str()),
              openStream(replay_->elementStream, elementFile_.c_str())};
  }
  for (const auto& [ok, path] :
       {std::pair{opened.result, &resultFile_}, std::pair{opened.nodes, &nodeFile_},
        std::pair{opened.elements, &elementFile_}}) {
    if (!ok) throw Failure(*path + ": cannot be opened");
  }
  struct stat info {};
  if (::fstat(replay_->resultStream.fd, &info) == 0) {
    if (S_ISREG(info.st_mode)) resultBytes_ = info.st_size;
    resultIsPipe_ = S_ISFIFO(info.st_mode);
  }
}

Run::Run(const Program& program, TimeRange range, FedRecords, const std::string& folder)
    : Run(program, range, folder, Paths{}) {
  replay_->reopensResult = false;
  for (const auto& [stream, path] : {std::pair{&replay_->nodeStream, &nodeFile_},
                                     std::pair{&replay_->elementStream, &elementFile_}}) {
    checkInput(path->c_str());
    struct stat info {};
    if (::stat(path->c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
      throw Failure(*path + ": is a named pipe; a run followed as it is written reads its mesh " +
                    "from a regular file");
    }
    stream->stopOnSignal = &stopFlag();
    if (!openStream(*stream, path->c_str())) throw Failure(*path + ": cannot be opened");
  }
}

void Run::feed(const char* data, std::size_t size) {
  InputStream& s = replay_->resultStream;
  if (unread_.empty()) {
    attachBytes(s, data, size);
    return;
  }
  unread_.append(data, size);
  attachBytes(s, unread_.data(), unread_.size());
}

void Run::endFeed() {
  InputStream& s = replay_->resultStream;
  const char* first = std::find_if_not(s.data + s.pos, s.data + s.end, isSpace);
  std::string rest(first, s.data + s.end);  // before unread_ changes: the bytes may be its own
  unread_ = std::move(rest);
  closeStream(s);
}

Run::Step Run::advance() {
  throwIfInterrupted();
  if (ended_) return Step::Ended;
  const ReplayStep step = advanceReplay(*replay_, false);
  throwIfInterrupted();  // a read a signal cut short looks like the end of the data
  if (records_ == 0) {
    if (step.nodesRead == 0) {
      program_.warn(nodeFile_ + ": not one complete node record (number x y) " +
                    "could be read; every node stays at (0, 0)");
    }
    if (step.elementsRead == 0) {
      program_.warn(elementFile_ + ": not one complete triangle record (number " +
                    "n0 n1 n2) could be read; every triangle stays on node 0");
    }
  }
  ended_ = step.ended;
  if (!step.read) return Step::Ended;  // the end of the data: no record of its own
  const double t = replay_->shownRecord.time();
  if (records_++ == 0) firstTime_ = t;
  lastTime_ = t;
  if (t > range_.to) {
    ended_ = true;
    return Step::Ended;
  }
  if (t < range_.from) return Step::Skipped;  // a time that is not a number ends the run, shown
  ++steps_;
  return Step::Shown;
}

bool Run::next() {
  for (;;) {
    switch (advance()) {
      case Step::Shown: return true;
      case Step::Ended: return false;
      case Step::Skipped: break;
    }
  }
}

Scene Run::scene() const {
  return {replay_->shownRecord, replay_->nodeTable, replay_->elementTable};
}

double Run::fractionRead() const {
  const InputStream& s = replay_->resultStream;
  if (resultBytes_ <= 0 || !isOpen(s)) return 0.0;
  const off_t taken = ::lseek(s.fd, 0, SEEK_CUR);
  if (taken < 0) return 0.0;
  const double consumed = static_cast<double>(taken) - static_cast<double>(s.end - s.pos);
  return std::fmin(1.0, consumed / static_cast<double>(resultBytes_));
}

void Run::requireSteps() const {
  if (records_ == 0 && resultIsPipe_) {
    throw Failure(resultFile_ + ": no time step came through the named pipe (no " +
                  "program was writing into it, or none wrote a whole record); start the " +
                  "solver first");
  }
  if (records_ == 0) {
    throw Failure(resultFile_ + ": no time step to read (the file is empty, or " +
                  "does not start with a number)");
  }
  if (steps_ > 0) return;
  std::string cut;
  if (std::isfinite(range_.from)) cut += "--from " + messageNumber(range_.from);
  if (std::isfinite(range_.to))
    cut += (cut.empty() ? "--to " : " and --to ") + messageNumber(range_.to);
  throw Failure("no time step of the run lies within " + cut + ": its steps go from " +
                messageNumber(firstTime_) + " s to " + messageNumber(lastTime_) + " s");
}

StepData stepOf(const Scene& scene) {
  return {scene.record.time(), scene.record.vectors, meshOf(scene.nodes, scene.elements)};
}

void EveryNth::shown(const Run& run, const Write& write) {
  lastSkipped_ = (run.steps() - 1) % every_ != 0;
  if (!lastSkipped_) {
    write(stepOf(run.scene()));
    return;
  }
  if (!skipped_) skipped_ = std::make_unique<Snapshot>();
  skipped_->take(run.scene());
}

void EveryNth::ended(const Write& write) {
  if (lastSkipped_) write(stepOf(skipped_->scene()));
  lastSkipped_ = false;
}

void writeSteps(Run& run, StepWriter& writer, long every, Progress& progress) {
  EveryNth cut(every);
  const EveryNth::Write write = [&writer](const StepData& step) { writer.add(step); };
  while (run.next()) {
    cut.shown(run, write);
    progress.update(run.recordsRead(), writer.steps(), run.fractionRead());
  }
  run.requireSteps();
  cut.ended(write);
}

void writeRun(Run& run, StepWriter& writer, long every, Progress& progress) {
  writeSteps(run, writer, every, progress);
  writer.finish();
  progress.finish(run.recordsRead(), writer.steps());
}

void Snapshot::take(const Scene& scene) {
  record = scene.record;
  nodes = scene.nodes;
  elements = scene.elements;
}

}  // namespace companion
