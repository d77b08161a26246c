// Frame timing under a real GL (Mesa under Xvfb): the viewer's files opened and its window opened
// in a folder holding the demo, then frames driven as playback drives them, each timed from its
// start to the end of its swap. `play` is the display callback without its console line
// (advanceReplay, then showStep); `draw` draws records already in memory with drawRecord and
// swaps, so the difference between the two is what reading costs.
//
//   meshplay-X-frame-bench play|draw [FRAMES] [--allocator-defaults]
//
// Prints one line: frames/s, median and 95th percentile frame times, the median per 1000
// triangles of the profile (so that profiles of different sizes compare), page faults per frame.
#include <GL/freeglut.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/failure.h"
#include "demodata/demo_data.h"
#include "model/readers.h"
#include "model/viewer_state.h"
#include "viewer/drawing.h"
#include "viewer/frame.h"
#include "viewer/window.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double fraction) {
  const auto k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
  return values[k];
}

long pageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

}  // namespace

int main(int argc, char** argv) {
  const bool draw = argc > 1 && std::strcmp(argv[1], "draw") == 0;
  const long frames = argc > 2 ? std::atol(argv[2]) : 2000;
  const bool allocatorDefaults = argc > 3 && std::strcmp(argv[3], "--allocator-defaults") == 0;
  if (argc < 2 || (!draw && std::strcmp(argv[1], "play") != 0) || frames < 1) {
    std::fprintf(stderr, "usage: %s play|draw [FRAMES] [--allocator-defaults]\n", argv[0]);
    return 2;
  }

  char folder[] = "/tmp/meshplay-frame-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  try {
    companion::demo::writeDemoData(folder);
  } catch (const companion::Failure& failure) {
    std::fprintf(stderr, "cannot write the demo: %s\n", failure.what());
    return 1;
  }
  if (::chdir(folder) != 0) return 1;
  openInputs(state);
  openWindow(1, argv);
  glutDisplayFunc([] {});   // frames are drawn by the loop below, never on exposure
  if (allocatorDefaults) {  // glibc's initial thresholds: shows the stalls the viewer's cure
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  }
  for (int i = 0; i < 50; ++i) glutMainLoopEvent();  // the window maps and shows its first frame

  std::vector<ResultRecord> records;  // the draw-only frames' records, read before any timing
  if (draw) {
    readNodeBlock(state.nodeStream, state.nodeTable);
    readElementBlock(state.elementStream, state.elementTable);
    ResultRecord record;
    records.reserve(1000);
    while (records.size() < 1000 && readResultRecord(state.resultStream, record)) {
      records.push_back(record);
    }
    if (records.empty()) return 1;
  }
  std::vector<double> ms;
  ms.reserve(static_cast<std::size_t>(frames));
  const long faultsBefore = pageFaults();
  const Clock::time_point first = Clock::now();
  for (long i = 0; i < frames; ++i) {
    const Clock::time_point start = Clock::now();
    if (draw) {
      const Scene scene{records[static_cast<std::size_t>(i) % records.size()], state.nodeTable,
                        state.elementTable};
      drawRecord(scene, state);
      glutSwapBuffers();
    } else {
      showStep(advanceReplay(state, false));
    }
    glutMainLoopEvent();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
  const double median = percentile(ms, 0.5);
  std::printf(
      "%s %-4s %8.0f frames/s  median %.3f ms  p95 %.3f ms  %.3f ms per 1000 triangles  "
      "%.2f faults/frame%s\n",
      MESHPLAY_PROFILE, draw ? "draw" : "play", static_cast<double>(frames) / seconds, median,
      percentile(ms, 0.95), median * 1000.0 / ELEMENT_COUNT,
      static_cast<double>(pageFaults() - faultsBefore) / static_cast<double>(frames),
      allocatorDefaults ? "  (allocator defaults)" : "");
  std::filesystem::remove_all(folder);
  return 0;
}
