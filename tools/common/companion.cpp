// The companions' shared conventions, run stepping, temporary output and progress line.
#include "companion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "model/viewer_state.h"
#include "viewer/replay.h"

namespace companion {

namespace {

std::string name = "meshplay";
std::vector<std::string> temporaries;  // removed by fail(); a commit takes its path off the list
std::vector<void (*)()> cleanups;      // atFailure's, run before the temporaries go
volatile std::sig_atomic_t interruptedBy = 0;

bool runEnded = false;
long records = 0;
long long resultBytes = 0;

void onSignal(int signal) {
  interruptedBy = signal;
}

void removeTemporaries() {
  while (!cleanups.empty()) {
    void (*cleanup)() = cleanups.back();
    cleanups.pop_back();
    cleanup();
  }
  for (const std::string& path : temporaries) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  temporaries.clear();
}

// The viewer opens whatever open() accepts; a companion is stricter, so that a typo or a folder in
// a file's place is an error rather than an empty run.
void checkInput(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) fail(std::string(path) + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) fail(std::string(path) + ": is a folder, not a file");
  if (::access(path, R_OK) != 0) fail(std::string(path) + ": " + std::strerror(errno));
}

// Bytes of the result file consumed so far: what read() took, less what the stream still buffers.
long long resultOffset() {
  const InputStream& s = state.resultStream;
  if (!isOpen(s)) return 0;
  const off_t taken = ::lseek(s.fd, 0, SEEK_CUR);
  return taken < 0 ? 0 : static_cast<long long>(taken) - static_cast<long long>(s.end - s.pos);
}

}  // namespace

void start(const char* argv0) {
  if (argv0 != nullptr && *argv0 != '\0') name = std::filesystem::path(argv0).filename().string();
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, onSignal);
  // A writer that goes away (ffmpeg failing, a closed pipe) shows as a failed write, not a kill.
  std::signal(SIGPIPE, SIG_IGN);
  // A library that ends the process itself (Xlib on a lost display, say) leaves no output behind.
  std::atexit(removeTemporaries);
}

const std::string& programName() {
  return name;
}

void fail(const std::string& message) {
  progressDone();
  removeTemporaries();
  std::fprintf(stderr, "%s: %s\n", name.c_str(), message.c_str());
  std::exit(1);
}

void atFailure(void (*cleanup)()) {
  cleanups.push_back(cleanup);
}

void printVersion() {
  std::printf("%s %s\n", name.c_str(), MESHPLAY_VERSION);
}

long parseCount(const std::string& option, const char* text, long min, long max) {
  char* stop = nullptr;
  errno = 0;
  const long value = std::strtol(text, &stop, 10);
  if (stop == text || *stop != '\0' || errno != 0 || value < min || value > max) {
    fail("invalid value '" + std::string(text) + "' for " + option + ": expected a whole number " +
         "from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value;
}

double parseTime(const std::string& option, const char* text) {
  char* stop = nullptr;
  const double value = std::strtod(text, &stop);
  if (stop == text || *stop != '\0' || !std::isfinite(value)) {
    fail("invalid value '" + std::string(text) + "' for " + option +
         ": expected a time in seconds");
  }
  return value;
}

void openRun() {
  for (const char* path : {"result.dat", "geodata.dat", "tridata.dat"}) checkInput(path);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("cannot silence the console");
  openInputs();
  for (const InputStream* s : {&state.resultStream, &state.nodeStream, &state.elementStream}) {
    if (!isOpen(*s)) fail("cannot open the input files");
  }
  struct stat info {};
  resultBytes = ::fstat(state.resultStream.fd, &info) == 0 ? info.st_size : 0;
}

bool nextRecord(const TimeRange& range) {
  for (;;) {
    if (interruptedBy != 0) fail(std::string("interrupted by ") + strsignal(interruptedBy));
    if (runEnded) return false;
    const ReplayStep step = advanceReplay();
    runEnded = step.ended;
    if (!step.read) return false;  // the end of the data: no record of its own
    ++records;
    const double t = state.shownRecord.time();
    if (t > range.to) {
      runEnded = true;
      return false;
    }
    if (!(t < range.from)) return true;  // a time that is not a number ends the run: it counts
  }
}

long recordsRead() {
  return records;
}

double fractionRead() {
  if (resultBytes <= 0) return 0.0;
  return std::fmin(1.0, static_cast<double>(resultOffset()) / static_cast<double>(resultBytes));
}

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point progressStart = Clock::now();
Clock::time_point lastShown{};
bool lineOpen = false;
}  // namespace

void progress(long done, const char* unit) {
  if (::isatty(STDERR_FILENO) == 0) return;
  const Clock::time_point now = Clock::now();
  if (lineOpen && now - lastShown < std::chrono::milliseconds(100)) return;
  lastShown = now;
  lineOpen = true;
  const double seconds = std::chrono::duration<double>(now - progressStart).count();
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  const double fraction = fractionRead();
  std::fprintf(stderr, "\r%s: %ld records read, %ld %s, %.0f %s/s", name.c_str(), records, done,
               unit, rate, unit);
  if (fraction > 0.0) std::fprintf(stderr, ", about %.0f s left", seconds * (1.0 / fraction - 1.0));
  std::fputs("\033[K", stderr);  // clears what a longer previous line left
  std::fflush(stderr);
}

void progressDone() {
  if (!lineOpen) return;
  std::fputs("\n", stderr);
  lineOpen = false;
}

std::string temporaryPath(const std::string& finalPath) {
  std::filesystem::path p(finalPath);
  if (p.has_filename() == false) p = p.parent_path();  // "frames/" names the folder "frames"
  const std::string path =
      (p.parent_path() / ("." + p.filename().string() + ".part-" + std::to_string(::getpid())))
          .string();
  temporaries.push_back(path);
  return path;
}

void commit(const std::string& temporary, const std::string& finalPath) {
  std::error_code ec;
  std::filesystem::rename(temporary, finalPath, ec);
  if (ec) fail(finalPath + ": " + ec.message());
  for (std::size_t i = 0; i < temporaries.size(); ++i) {
    if (temporaries[i] == temporary) temporaries.erase(temporaries.begin() + static_cast<long>(i));
  }
}

}  // namespace companion
