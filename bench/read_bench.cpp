// Reading one result record of the demo: the project's reader, through its stream from the file,
// against fast_float alone over the same bytes in memory, which is the cost of the conversions
// with nothing else (no stream, no refill, no field rules).
#include <benchmark/benchmark.h>

#include <fast_float/fast_float.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "demodata/demo_data.h"
#include "model/readers.h"

namespace {

// The demo's files, written once into a temporary folder that is removed at exit.
const std::string& resultPath() {
  static const std::string path = [] {
    static std::string folder = "/tmp/meshplay-read-bench-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) std::abort();
    companion::demo::writeDemoData(folder);  // a failure ends the benchmark
    std::atexit([] { std::filesystem::remove_all(folder); });
    return folder + "/result.dat";
  }();
  return path;
}

// The time per number read as well, so that profiles of different sizes compare.
void perNumber(benchmark::State& st) {
  st.counters["per_number"] = benchmark::Counter(
      RECORD_VALUES, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void reader(benchmark::State& st) {
  InputStream s;
  ResultRecord record;
  openStream(s, resultPath().c_str());
  for (auto _ : st) {
    if (!readResultRecord(s, record)) {  // once a pass over the file
      openStream(s, resultPath().c_str());
      readResultRecord(s, record);
    }
    benchmark::DoNotOptimize(record);
  }
  perNumber(st);
}

void fastFloatInMemory(benchmark::State& st) {
  std::ifstream in(resultPath(), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const char* const last = text.data() + text.size();
  const char* p = text.data();
  double value = 0.0;
  for (auto _ : st) {
    for (int i = 0; i < RECORD_VALUES; ++i) {
      while (p < last && (*p == ' ' || *p == '\n')) ++p;
      if (p == last) p = text.data();
      p = fast_float::from_chars(p, last, value).ptr;
      benchmark::DoNotOptimize(value);
    }
  }
  perNumber(st);
}

}  // namespace

BENCHMARK(reader)->Name(MESHPLAY_PROFILE ": record, reader from the file");
BENCHMARK(fastFloatInMemory)->Name(MESHPLAY_PROFILE ": record, fast_float over memory");
BENCHMARK_MAIN();
