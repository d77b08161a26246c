// The progress line.
#include "common/progress.h"

#include <unistd.h>

#include <cstdio>

namespace companion {

Progress::Progress(std::string program, std::string unit)
    : program_(std::move(program)),
      unit_(std::move(unit)),
      terminal_(::isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
  if (open_) std::fputs("\n", stderr);
}

void Progress::update(long records, long done, double fraction) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  if (open_ && now - shown_ < std::chrono::milliseconds(100)) return;
  shown_ = now;
  show(records, done, fraction);
}

void Progress::finish(long records, long done) {
  if (!terminal_) return;
  show(records, done, 1.0);
  std::fputs("\n", stderr);
  open_ = false;
}

void Progress::show(long records, long done, double fraction) {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  std::fprintf(stderr, "\r%s: %ld records read, %ld %s, %.0f %s/s", program_.c_str(), records, done,
               unit_.c_str(), rate, unit_.c_str());
  if (fraction > 0.0 && fraction < 1.0) {
    std::fprintf(stderr, ", about %.0f s left", seconds * (1.0 / fraction - 1.0));
  }
  std::fputs("\033[K", stderr);  // clears what a longer previous line left
  std::fflush(stderr);
  open_ = true;
}

}  // namespace companion
