// Following one run: when to look at its file, what a look brings to its index row and, while
// someone watches, to its hub.
#include "serve/follow.h"

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "common/failure.h"
#include "model/scanner.h"
#include "serve/requests.h"

namespace companion {

namespace {

// The least time between two looks that inotify asks for: a solver writing hundreds of records a
// second is taken in a few at a time, each look one pass over the new bytes, one chunk deflated
// and one write to each client, for at most this much more delay. A run nobody watches needs
// looking at only as often as its index row changes.
constexpr auto LOOK_GAP = std::chrono::milliseconds(20);
constexpr auto UNWATCHED_LOOK_GAP = std::chrono::milliseconds(250);
// How often the file is looked at where inotify says nothing (NFS, or no inotify at all).
constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(500);
// While more is there to read, the next look waits as long as a client has more than this still
// to write of what the last ones brought, a little at a time and at most PAUSE_LIMIT: reading
// flat out must not leave the clients behind, and a client that stopped reading must not stop it.
constexpr std::size_t FEED_AHEAD = std::size_t{1} << 20;
constexpr auto PAUSE_STEP = std::chrono::milliseconds(2);
constexpr auto PAUSE_LIMIT = std::chrono::milliseconds(100);
// How long a run's steps are kept once its last client left: a reload, or the next page of a
// user going back and forth, finds them.
constexpr auto KEEP_UNWATCHED = std::chrono::seconds(60);

constexpr long NFS_MAGIC = 0x6969;

// Whether inotify can tell of changes in `folder`: not where another machine writes (NFS).
bool inotifySees(const std::string& folder) {
  struct statfs info {};
  return ::statfs(folder.c_str(), &info) != 0 || info.f_type != NFS_MAGIC;
}

}  // namespace

const char* kindName(RunState::Kind kind) {
  switch (kind) {
    case RunState::Kind::Waiting: return "waiting";
    case RunState::Kind::Live: return "live";
    case RunState::Kind::Ended: return "ended";
    case RunState::Kind::Failed: return "failed";
  }
  return "waiting";
}

RunFollow::RunFollow(const FollowSetup& setup, std::string name, std::string folder, bool kept)
    : setup_(setup),
      name_(std::move(name)),
      folder_(std::move(folder)),
      kept_(kept),
      follower_(setup.watch, folder_, setup.settings.fieldsPerRecord, true),
      lookTimer_(setup.io),
      checkTimer_(setup.io),
      dropTimer_(setup.io),
      pipe_(setup.io) {
  checkMesh();
  if (kept_) hub();
}

RunFollow::~RunFollow() {
  stop();
}

void RunFollow::warn(const std::string& message) const {
  setup_.program.warn(setup_.study ? name_ + ": " + message : message);
}

void RunFollow::start() {
  // A study's runs take their first look in turns: a server started on hundreds of long ones
  // answers its first page before it has read them all.
  if (setup_.study) {
    lookDue_ = true;
    setup_.turns.want(this, false);
  } else {
    look();
  }
  // A server of one run has always looked every half second as well; a study's runs where
  // inotify cannot see.
  if (!setup_.study || setup_.watch.fd() < 0 || !inotifySees(folder_)) check();
}

void RunFollow::check() {
  checkTimer_.expires_after(CHECK_INTERVAL);
  checkTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;
    lookSoon();
    check();
  });
}

void RunFollow::changed(int watch) {
  if (follower_.watches(watch)) lookSoon();
}

Hub& RunFollow::hub() {
  dropTimer_.cancel();
  if (!hub_) {
    hub_ = std::make_unique<Hub>(setup_.settings.encoding);
    // Run ids differ from one run to the next, and from those of an earlier server: a page that
    // reconnects to a server started again takes its run as a new one.
    std::uint32_t first = 0;
    randomBytes(&first, sizeof first);
    hub_->begin(first);
    sourceEnded_ = false;
    try {
      source_ = setup_.settings.source(folder_);
      source_->restart();
    } catch (const Interrupted&) {
      throw;
    } catch (const Failure& failure) {
      sourceProblem_ = failure.what();
      sourceEnded_ = true;
    }
    // The steps so far go to the hub: the file is read again from its start (a pipe's cannot
    // be: the hub has its steps from now on).
    if (follower_.rewind()) {
      steps_ = 0;
      ended_ = false;
    }
    lookSoon();
  }
  return *hub_;
}

void RunFollow::left() {
  if (stopping_ || kept_ || !hub_ || hub_->clients() > 0) return;
  dropTimer_.expires_after(KEEP_UNWATCHED);
  dropTimer_.async_wait([this](beast::error_code error) {
    if (!error && !stopping_ && hub_ && hub_->clients() == 0 && !follower_.isPipe()) drop();
  });
}

void RunFollow::drop() {
  hub_.reset();
  source_.reset();
}

// The seconds since the last record came, or since the run began before any did.
void RunFollow::heartbeat() {
  if (hub_) hub_->heartbeat(std::chrono::duration<double>(Clock::now() - lastRecord_).count());
}

RunState RunFollow::state() const {
  RunState s;
  s.steps = steps_;
  s.time = lastTime_;
  if (seen_ > 0) s.age = std::chrono::duration<double>(Clock::now() - lastRecord_).count();
  for (const std::string* problem : {&meshProblem_, &fileProblem_, &sourceProblem_}) {
    if (problem->empty()) continue;
    s.kind = RunState::Kind::Failed;
    s.reason = *problem;
    return s;
  }
  if (ended_) {
    s.kind = RunState::Kind::Ended;
  } else if (steps_ > 0) {
    s.kind = RunState::Kind::Live;
  }
  return s;
}

void RunFollow::stop() {
  if (stopping_) return;
  stopping_ = true;
  if (hub_ && !sourceEnded_) sayNotFinite();
  beast::error_code ignored;
  pipe_.close(ignored);
  lookTimer_.cancel();
  checkTimer_.cancel();
  dropTimer_.cancel();
}

// A run's mesh files must be files it can read: else its row says why.
void RunFollow::checkMesh() {
  meshProblem_.clear();
  for (const char* file : {"geodata.dat", "tridata.dat"}) {
    const std::string path = folder_ == "." ? file : folder_ + "/" + file;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      meshProblem_ = systemFailure(path, errno).what();
    } else if (!S_ISREG(info.st_mode)) {
      meshProblem_ = path + ": is not a file";
    } else if (::access(path.c_str(), R_OK) != 0) {
      meshProblem_ = systemFailure(path, errno).what();
    }
    if (!meshProblem_.empty()) return;
  }
}

void RunFollow::sayNotFinite() const {
  const std::string message = notFiniteMessage(hub_->replaced());
  if (!message.empty()) warn(message);
}

void RunFollow::lookSoon() {
  if (lookDue_ || stopping_) return;
  lookDue_ = true;
  lookTimer_.expires_at(lastLook_ + (hub_ ? LOOK_GAP : UNWATCHED_LOOK_GAP));
  lookTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;
    lookDue_ = false;
    look();
  });
}

void RunFollow::lookOn(Clock::time_point since) {
  lookDue_ = true;
  if (hub_ && hub_->mostBehind() > FEED_AHEAD && Clock::now() - since < PAUSE_LIMIT) {
    lookTimer_.expires_after(PAUSE_STEP);
    lookTimer_.async_wait([this, since](beast::error_code error) {
      if (!error && !stopping_) lookOn(since);
    });
    return;
  }
  setup_.turns.want(this, hub_ != nullptr);
}

void RunFollow::turn() {
  if (stopping_) return;
  lookDue_ = false;
  look();
}

void RunFollow::look() {
  if (stopping_) return;
  lastLook_ = Clock::now();
  bool more = false;
  try {
    const Arrival arrival = follower_.look();
    if (!arrival.trouble.empty()) warn(arrival.trouble);
    take(arrival);
    more = arrival.more;
    follower_.settle();
    failure_.clear();
  } catch (const Interrupted&) {
    return;  // a stop signal came while the run was read: the stop is on its way
  } catch (const Failure& failure) {
    // Whatever fails with the run, the server goes on serving what it has, and tries again.
    if (failure.what() != failure_) {
      failure_ = failure.what();
      warn(failure_ + "; still serving, trying again");
    }
  }
  followPipe();
  if (more) lookOn(Clock::now());
}

// A named pipe is readable when its writer wrote, which inotify tells only once a whole write()
// is done, and a large one waits for the pipe to be read.
void RunFollow::followPipe() {
  if (follower_.opens() != pipeOpens_) {
    pipeOpens_ = follower_.opens();
    beast::error_code ignored;
    pipe_.close(ignored);  // a pipe whose writer left reads as ready for ever
    waitingForPipe_ = false;
    if (follower_.pipe() >= 0) pipe_.assign(::dup(follower_.pipe()), ignored);
  }
  if (waitingForPipe_ || !pipe_.is_open() || stopping_) return;
  waitingForPipe_ = true;
  pipe_.async_wait(net::posix::descriptor_base::wait_read,
                   [this, opens = pipeOpens_](beast::error_code error) {
                     if (opens != pipeOpens_) return;  // a pipe closed since
                     waitingForPipe_ = false;
                     if (!error && !stopping_) lookSoon();
                   });
}

void RunFollow::take(const Arrival& arrival) {
  if (arrival.newRun) beginRun();
  count(arrival);
  if (!hub_ || sourceEnded_ || (arrival.records == 0 && !arrival.closed)) return;
  sourceEnded_ = source_->take(arrival, [this](const StepData& step) { hub_->add(step); });
  hub_->publish();
  if (sourceEnded_) endRun();
}

// The index's count: each record's time, read where the record begins, as the replay reads it.
void RunFollow::count(const Arrival& arrival) {
  if (!arrival.trouble.empty()) fileProblem_ = arrival.trouble;
  if (arrival.records > 0 && arrival.trouble.empty()) fileProblem_.clear();
  InputStream& times = setup_.scratch;
  std::size_t begin = 0;
  for (const std::size_t end : arrival.ends) {
    if (ended_) break;
    attachBytes(times, arrival.text.data() + begin, end - begin);
    double t = 0.0;
    const bool read = scanReal(times, t);
    begin = end;
    ++steps_;
    lastTime_ = t;
    if (steps_ > seen_) {
      seen_ = steps_;
      lastRecord_ = Clock::now();
    }
    ended_ = setup_.settings.endsRun(t, read);
  }
  closeStream(times);
  ended_ = ended_ || arrival.closed;
}

void RunFollow::beginRun() {
  if (hub_ && !sourceEnded_) sayNotFinite();  // the run before, cut short
  steps_ = seen_ = 0;
  lastTime_ = 0.0;
  ended_ = false;
  lastRecord_ = Clock::now();
  fileProblem_.clear();
  sourceProblem_.clear();
  checkMesh();
  if (!hub_) return;
  sourceEnded_ = false;
  try {
    source_->restart();
  } catch (const Interrupted&) {
    throw;
  } catch (const Failure& failure) {
    warn(std::string(failure.what()) + "; the new run shows nothing");
    sourceProblem_ = failure.what();
    sourceEnded_ = true;
  }
  hub_->begin(hub_->run() + 1);
}

void RunFollow::endRun() {
  hub_->end();
  sayNotFinite();
}

}  // namespace companion
