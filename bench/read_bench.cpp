// Reading speed of one result record: the viewer's reader, a reference that calls fscanf once per
// value, and the limit of a loop that only finds where the tokens are in the same buffered data.
// Also the per-frame cost of the node and element reads once their files are exhausted.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_data.h"
#include "model/readers.h"

namespace {

// Records in the benchmark's result file: several megabytes, so that reading it is reading a
// file, not re-reading a cache-sized buffer.
constexpr long RECORDS = 8'000'000 / (RECORD_VALUES * 14) + 1;

struct Files {
  std::string folder;
  std::string result, nodes, elements;
};
Files files;

void countBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bench::recordBytes()));
  state.SetLabel(std::to_string(RECORD_VALUES) + " values, " +
                 std::to_string(bench::recordBytes()) + " bytes a record");
}

// The viewer's reader, as drawFrame calls it; at the end of the file it starts again.
void readers(benchmark::State& state) {
  InputStream s;
  openStream(s, files.result.c_str());
  ResultRecord record;
  for (auto _ : state) {
    if (!readResultRecord(s, record)) {
      openStream(s, files.result.c_str());
      readResultRecord(s, record);
    }
    benchmark::DoNotOptimize(record);
  }
  closeStream(s);
  countBytes(state);
}

// The straightforward reader: one fscanf("%lf") per value, in the record's order.
void fscanfPerValue(benchmark::State& state) {
  std::FILE* f = std::fopen(files.result.c_str(), "r");
  ResultRecord record;
  auto next = [&](double& value) {
    if (std::fscanf(f, "%lf", &value) != 1) value = 0.0;
  };
  for (auto _ : state) {
    if (std::fscanf(f, "%lf", &record.header[0]) != 1) {
      std::rewind(f);
      next(record.header[0]);
    }
    for (int i = 1; i < HEADER_VALUES; ++i) next(record.header[i]);
    for (auto& pair : record.vectors) {
      next(pair[0]);
      next(pair[1]);
    }
    for (auto& pair : record.base) {
      next(pair[0]);
      next(pair[1]);
    }
    benchmark::DoNotOptimize(record);
  }
  std::fclose(f);
  countBytes(state);
}

inline bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Finds the next token in the stream and steps over it, refilling as the scanner does; returns its
// length, 0 at the end of the data. No conversion at all: the floor under any reader.
inline std::size_t nextToken(InputStream& s) {
  for (;;) {
    while (s.pos < s.end && isSpace(s.buffer[s.pos])) ++s.pos;
    if (s.pos < s.end) break;
    if (s.atEnd) return 0;
    fillStream(s, 1);
  }
  std::size_t length = 0;
  for (;;) {
    while (s.pos < s.end && !isSpace(s.buffer[s.pos])) {
      ++s.pos;
      ++length;
    }
    if (s.pos < s.end || s.atEnd) return length;
    fillStream(s, 1);
  }
}

void tokenBoundaries(benchmark::State& state) {
  InputStream s;
  openStream(s, files.result.c_str());
  for (auto _ : state) {
    std::size_t total = 0;
    for (int i = 0; i < RECORD_VALUES; ++i) {
      std::size_t length = nextToken(s);
      if (length == 0) {
        openStream(s, files.result.c_str());
        length = nextToken(s);
      }
      total += length;
    }
    benchmark::DoNotOptimize(total);
  }
  closeStream(s);
  countBytes(state);
}

// What every frame after the first pays for the node and element files of one block each.
void exhaustedTableReads(benchmark::State& state) {
  InputStream nodes, elements;
  openStream(nodes, files.nodes.c_str());
  openStream(elements, files.elements.c_str());
  NodeTable nodeTable{};
  ElementTable elementTable{};
  readNodeBlock(nodes, nodeTable);
  readElementBlock(elements, elementTable);
  for (auto _ : state) {
    readNodeBlock(nodes, nodeTable);
    readElementBlock(elements, elementTable);
    benchmark::ClobberMemory();
  }
  closeStream(nodes);
  closeStream(elements);
}

BENCHMARK(readers)->Unit(benchmark::kMicrosecond);
BENCHMARK(fscanfPerValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(tokenBoundaries)->Unit(benchmark::kMicrosecond);
BENCHMARK(exhaustedTableReads)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  files.folder = bench::makeDataFolder(RECORDS);
  if (files.folder.empty()) {
    std::fprintf(stderr, "cannot write the benchmark's files\n");
    return 1;
  }
  files.result = files.folder + "/result.dat";
  files.nodes = files.folder + "/geodata.dat";
  files.elements = files.folder + "/tridata.dat";
  benchmark::AddCustomContext("profile", MESHPLAY_PROFILE);
  benchmark::AddCustomContext("record_bytes", std::to_string(bench::recordBytes()));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  bench::removeFolder(files.folder);
  return 0;
}
