// Frame timing under a real GL (Mesa's llvmpipe under Xvfb): the program's own start-up, then
// drawFrame over and over as playback drives it, each frame timed from the call to the end of its
// glutSwapBuffers.
//
// Built twice per profile. meshplay-X-frame-bench replays the result file exactly as the program
// does. meshplay-X-draw-bench compiles the frame cycle with its record read replaced by a copy of
// a record already in memory (bench/CMakeLists.txt renames the call), so the difference between
// the two is what reading costs a frame. Either can also write a result file of a given size, for
// the memory figures of a long replay.
#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench_data.h"
#include "model/readers.h"
#include "model/viewer_state.h"
#include "viewer/frame.h"
#include "viewer/startup.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  long frames = 2000;       // timed frames
  long warmup = 200;        // frames drawn before the timing starts
  long records = 1000;      // records of the generated result file
  std::string folder;       // a folder with the three files, instead of generated ones
  std::string writeFolder;  // only write the three files there, the result file about `bytes` long
  long long bytes = 0;
  bool onePass = false;   // stop after the frame that finds the end of the result file
  bool keepTimes = true;  // off for memory figures: the times of a long replay take memory
  std::string trace;      // a file to receive every timed frame's time, CPU time and page faults
  long rssEvery = 0;      // report the resident set size every so many frames on standard error
  bool allocatorDefaults = false;  // undo the viewer's allocator settings, to show what they cure
  long alternate = 0;  // draw-only build: blocks of this many frames alternately read the file
};

struct Run {
  Options options;
  std::string generatedFolder;
  std::FILE* report = nullptr;  // the real standard output; the program's goes to /dev/null
  std::vector<double> frameMs;
  std::vector<long> frameFaults;  // page faults (all threads) during each timed frame
  // CPU time of all threads during each timed frame: what a frame costs, whatever else the machine
  // is running at the time (wall-clock times on a shared machine include other people's work).
  std::vector<double> frameCpuMs;
  Clock::time_point firstStart, lastEnd;
  long drawn = 0;
  long timed = 0;
  bool finished = false;
  bool readingBlock = false;  // with `alternate`: this frame reads its record from the file
  std::vector<std::size_t> frameRead;  // with `alternate`: whether each timed frame read its record
  rusage usageAtStart{};
};
Run run;

#ifdef MESHPLAY_DRAW_ONLY
std::vector<ResultRecord> memoryRecords;
std::size_t nextRecord = 0;
#endif

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const std::size_t k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
  return values[k];
}

// The frames that read their record from the file against those that copied it from memory, in
// the same process and interleaved in blocks, so that whatever else the machine does at the time
// weighs on both alike.
void reportPairs() {
  std::vector<double> ms[2], cpu[2];
  for (std::size_t i = 0; i < run.frameMs.size(); ++i) {
    ms[run.frameRead[i]].push_back(run.frameMs[i]);
    cpu[run.frameRead[i]].push_back(run.frameCpuMs[i]);
  }
  auto mean = [](const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
  };
  std::fprintf(run.report,
               "profile=%s mode=paired block=%ld reading_mean_ms=%.4f memory_mean_ms=%.4f "
               "reading_median_ms=%.4f memory_median_ms=%.4f reading_cpu_mean_ms=%.4f "
               "memory_cpu_mean_ms=%.4f\n",
               MESHPLAY_PROFILE, run.options.alternate, mean(ms[1]), mean(ms[0]),
               percentile(ms[1], 0.5), percentile(ms[0], 0.5), mean(cpu[1]), mean(cpu[0]));
}

void finish() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const std::vector<double>& ms = run.frameMs;
  const double seconds = std::chrono::duration<double>(run.lastEnd - run.firstStart).count();
  const double median = percentile(ms, 0.5);
  const double p95 = percentile(ms, 0.95);
  const double frames = static_cast<double>(run.timed);
  double cpuMean = 0.0;
  for (double t : run.frameCpuMs) cpuMean += t / static_cast<double>(run.frameCpuMs.size());
  // Frames in which the driver's memory faulted in fresh pages by the hundred kilobytes.
  std::vector<double> faultingMs;
  for (std::size_t i = 0; i < run.frameFaults.size(); ++i) {
    if (run.frameFaults[i] >= 25) faultingMs.push_back(ms[i]);
  }
#ifdef MESHPLAY_DRAW_ONLY
  const char* mode = run.options.alternate > 0 ? "alternate" : "draw";
#else
  const char* mode = "play";
#endif
  std::fprintf(run.report,
               "profile=%s mode=%s frames=%ld fps=%.1f median_ms=%.4f p95_ms=%.4f p99_ms=%.4f "
               "max_ms=%.4f p95_over_median=%.3f minflt_per_frame=%.2f maxrss_kb=%ld "
               "faulting_frames=%zu faulting_median_ms=%.4f allocator=%s cpu_median_ms=%.4f "
               "cpu_p95_ms=%.4f cpu_mean_ms=%.4f\n",
               MESHPLAY_PROFILE, mode, run.timed, seconds > 0.0 ? frames / seconds : 0.0, median,
               p95, percentile(ms, 0.99), percentile(ms, 1.0), median > 0.0 ? p95 / median : 0.0,
               frames > 0.0
                   ? static_cast<double>(usage.ru_minflt - run.usageAtStart.ru_minflt) / frames
                   : 0.0,
               usage.ru_maxrss, faultingMs.size(), percentile(faultingMs, 0.5),
               run.options.allocatorDefaults ? "defaults" : "viewer",
               percentile(run.frameCpuMs, 0.5), percentile(run.frameCpuMs, 0.95), cpuMean);
  if (run.options.alternate > 0) reportPairs();
  std::fprintf(run.report, "# %s, OpenGL %s\n",
               reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
               reinterpret_cast<const char*>(glGetString(GL_VERSION)));
  if (!run.options.trace.empty()) {
    if (std::FILE* f = std::fopen(run.options.trace.c_str(), "w")) {
      for (std::size_t i = 0; i < ms.size(); ++i) {
        std::fprintf(f, "%.4f %.4f %ld\n", ms[i], run.frameCpuMs[i], run.frameFaults[i]);
      }
      std::fclose(f);
    }
  }
  std::fflush(run.report);
  if (!run.generatedFolder.empty()) bench::removeFolder(run.generatedFolder);
}

// The display callback in the benchmark: the program's drawFrame, timed.
void timedFrame() {
  run.readingBlock = run.options.alternate > 0 && (run.drawn / run.options.alternate) % 2 == 0;
  const off_t before = run.options.onePass ? ::lseek(state.resultStream.fd, 0, SEEK_CUR) : 0;
  rusage usageBefore{}, usageAfter{};
  getrusage(RUSAGE_SELF, &usageBefore);
  timespec cpuStart{}, cpuEnd{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
  const Clock::time_point start = Clock::now();
  drawFrame();
  const Clock::time_point end = Clock::now();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
  getrusage(RUSAGE_SELF, &usageAfter);
  ++run.drawn;
  if (run.drawn == run.options.warmup) getrusage(RUSAGE_SELF, &run.usageAtStart);
  if (run.drawn > run.options.warmup) {
    if (run.timed++ == 0) run.firstStart = start;
    run.lastEnd = end;
    if (run.options.keepTimes) {
      run.frameMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      run.frameFaults.push_back(usageAfter.ru_minflt - usageBefore.ru_minflt);
      run.frameRead.push_back(run.readingBlock ? 1 : 0);
      run.frameCpuMs.push_back(static_cast<double>(cpuEnd.tv_sec - cpuStart.tv_sec) * 1e3 +
                               static_cast<double>(cpuEnd.tv_nsec - cpuStart.tv_nsec) * 1e-6);
    }
  }
  if (run.options.rssEvery > 0 && run.drawn % run.options.rssEvery == 0) {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
      std::fclose(f);
    }
    std::fprintf(stderr, "frame %ld: resident %ld KiB\n", run.drawn, resident * 4);
  }
  if (run.options.onePass) {
    // The end of the data closes the result file and opens it again at its start.
    run.finished = ::lseek(state.resultStream.fd, 0, SEEK_CUR) < before;
  } else {
    run.finished = run.drawn >= run.options.warmup + run.options.frames;
  }
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--frames" && hasValue) {
      o.frames = std::atol(argv[++i]);
    } else if (a == "--warmup" && hasValue) {
      o.warmup = std::atol(argv[++i]);
    } else if (a == "--records" && hasValue) {
      o.records = std::atol(argv[++i]);
    } else if (a == "--folder" && hasValue) {
      o.folder = argv[++i];
    } else if (a == "--write-folder" && i + 2 < argc) {
      o.writeFolder = argv[++i];
      o.bytes = std::atoll(argv[++i]);
    } else if (a == "--one-pass") {
      o.onePass = true;
      o.keepTimes = false;
    } else if (a == "--alternate" && hasValue) {
      o.alternate = std::atol(argv[++i]);
    } else if (a == "--allocator-defaults") {
      o.allocatorDefaults = true;
    } else if (a == "--no-times") {
      o.keepTimes = false;
    } else if (a == "--rss-every" && hasValue) {
      o.rssEvery = std::atol(argv[++i]);
    } else if (a == "--trace" && hasValue) {
      o.trace = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

// Writes the files in a child process. Formatting tens of megabytes allocates and frees large
// blocks, and freeing a block that the C library had mapped for itself raises its thresholds for
// mapping and for returning memory to the system: in this process that would hide exactly the
// allocator behaviour that the viewer meets in its frames.
std::string dataFolderFromChild(long records) {
  char folder[] = "/tmp/meshplay-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return "";
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string f = folder;
    const bool ok = bench::writeNodeFile(f + "/geodata.dat") &&
                    bench::writeElementFile(f + "/tridata.dat") &&
                    bench::writeResultFile(f + "/result.dat", records);
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    bench::removeFolder(folder);
    return "";
  }
  return folder;
}

}  // namespace

#ifdef MESHPLAY_DRAW_ONLY
// Stands in for readResultRecord in this build's drawFrame: the next record, from memory.
bool benchRecordFromMemory(InputStream& s, ResultRecord& record) {
  if (run.readingBlock) return readResultRecord(s, record);
  record = memoryRecords[nextRecord];
  nextRecord = (nextRecord + 1) % memoryRecords.size();
  return true;
}
#endif

// runViewer() ends its start-up by entering the GLUT main loop. The benchmark defines the loop
// itself (the program's own definition wins over the library's), so that everything before it is
// the program's real start-up, and then drives the frames as playback does: a redisplay is posted,
// freeglut handles the window's events and calls the display callback.
extern "C" void glutMainLoop(void) {
  // Everything the benchmark allocates is allocated now, before the first frame, and kept.
  if (run.options.keepTimes) {
    run.frameMs.reserve(static_cast<std::size_t>(run.options.frames));
    run.frameFaults.reserve(static_cast<std::size_t>(run.options.frames));
    run.frameRead.reserve(static_cast<std::size_t>(run.options.frames));
    run.frameCpuMs.reserve(static_cast<std::size_t>(run.options.frames));
  }
  if (run.options.allocatorDefaults) {
    // glibc's initial thresholds; setting them also turns off its dynamic raising, which never
    // helps here: a freed block of the same size does not raise the threshold above that size.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  }
#ifdef MESHPLAY_DRAW_ONLY
  memoryRecords.reserve(static_cast<std::size_t>(bench::DISTINCT_RECORDS));
  InputStream s;
  openStream(s, "result.dat");
  ResultRecord record;
  while (memoryRecords.size() < memoryRecords.capacity() && readResultRecord(s, record)) {
    memoryRecords.push_back(record);
  }
  closeStream(s);
  if (memoryRecords.empty()) memoryRecords.push_back(record);
#endif
  glutDisplayFunc(timedFrame);
  getrusage(RUSAGE_SELF, &run.usageAtStart);  // taken again after the warm-up frames, if any
  while (!run.finished) {
    glutPostRedisplay();
    glutMainLoopEvent();
  }
  finish();
  std::exit(0);
}

int main(int argc, char** argv) {
  if (!parse(argc, argv, run.options)) {
    std::fprintf(stderr,
                 "usage: %s [--frames N] [--warmup N] [--records N | --folder DIR] [--one-pass] "
                 "[--no-times] [--allocator-defaults] [--alternate N] [--rss-every N] [--trace "
                 "FILE]\n       %s "
                 "--write-folder DIR BYTES\n",
                 argv[0], argv[0]);
    return 2;
  }
  const Options& o = run.options;
  if (!o.writeFolder.empty()) {
    const long records =
        static_cast<long>(o.bytes / static_cast<long long>(bench::recordBytes())) + 1;
    const std::string& f = o.writeFolder;
    if (!bench::writeNodeFile(f + "/geodata.dat") || !bench::writeElementFile(f + "/tridata.dat") ||
        !bench::writeResultFile(f + "/result.dat", records)) {
      return 1;
    }
    std::printf("%s: %ld records of %zu bytes\n", f.c_str(), records, bench::recordBytes());
    return 0;
  }
  std::string folder = o.folder;
  if (folder.empty()) {
    folder = run.generatedFolder = dataFolderFromChild(o.records);
    if (folder.empty()) return 1;
  }
  if (::chdir(folder.c_str()) != 0) return 1;
  // The program prompts and waits for Enter on standard input, and prints a progress line every
  // frame; the benchmark's report goes to the real standard output instead.
  run.report = ::fdopen(::dup(STDOUT_FILENO), "w");
  if (run.report == nullptr || std::freopen("/dev/null", "r", stdin) == nullptr ||
      std::freopen("/dev/null", "w", stdout) == nullptr) {
    return 1;
  }
  char name[] = "meshplay-bench";
  char* args[] = {name, nullptr};
  int count = 1;
  return runViewer(count, args);
}
