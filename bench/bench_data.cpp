// Benchmark input files: a rest grid, its triangles and a smooth, simulation-like time history.
#include "bench_data.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "model/profile.h"

namespace bench {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A travelling wave over the grid: every value differs from its neighbours and from the previous
// record, as in a real history, so no value's text repeats in a way a reader could exploit.
double wave(long record, int index, double amplitude, double phase) {
  const double t = 0.01 * static_cast<double>(record % DISTINCT_RECORDS);
  return amplitude * std::sin(6.1 * t + 0.37 * index + phase) * (1.0 + 0.1 * std::cos(0.9 * t));
}

// Appends one record's text.
void appendRecord(std::string& text, long record) {
  char line[64];
  auto value = [&](double v) {
    std::snprintf(line, sizeof line, "% .6e", v);
    text += line;
  };
  value(0.01 * static_cast<double>(record % DISTINCT_RECORDS));
  for (int i = 1; i < HEADER_VALUES; ++i) {
    text += ' ';
    value(wave(record, i, 3.0, 0.0));
  }
  text += '\n';
  for (int i = 0; i < VECTOR_PAIRS; ++i) {
    value(wave(record, i, 1.0e-3, 0.0));
    text += ' ';
    value(wave(record, i, 4.0e-4, 1.3));
    text += '\n';
  }
  for (int i = 0; i < BASE_PAIRS; ++i) {
    value(wave(record, i, 1.2e-3, 0.4));
    text += ' ';
    value(0.0);
    text += '\n';
  }
}

}  // namespace

bool writeNodeFile(const std::string& path) {
  File f(std::fopen(path.c_str(), "w"));
  if (!f) return false;
  for (int i = 0; i < NODE_COUNT; ++i) {
    std::fprintf(f.get(), "%d %.6e %.6e\n", i + 1, (i % (NX + 1)) * DX, (i / (NX + 1)) * DY);
  }
  return std::fflush(f.get()) == 0;
}

bool writeElementFile(const std::string& path) {
  File f(std::fopen(path.c_str(), "w"));
  if (!f) return false;
  int number = 0;
  for (int row = 0; row < NY; ++row) {
    for (int column = 0; column < NX; ++column) {
      const int a = row * (NX + 1) + column, b = a + 1, c = a + NX + 1, d = c + 1;
      std::fprintf(f.get(), "%d %d %d %d\n", ++number, a, b, d);
      std::fprintf(f.get(), "%d %d %d %d\n", ++number, a, d, c);
    }
  }
  return std::fflush(f.get()) == 0;
}

std::size_t recordBytes() {
  std::string text;
  appendRecord(text, 0);
  return text.size();
}

bool writeResultFile(const std::string& path, long records) {
  File f(std::fopen(path.c_str(), "w"));
  if (!f) return false;
  // The distinct records are formatted once; a longer file repeats them.
  std::string block;
  const long distinct = std::min(records, DISTINCT_RECORDS);
  for (long k = 0; k < distinct; ++k) appendRecord(block, k);
  const std::size_t bytes = recordBytes();
  for (long written = 0; written < records; written += distinct) {
    const long count = std::min(distinct, records - written);
    const std::size_t length = static_cast<std::size_t>(count) * bytes;
    if (std::fwrite(block.data(), 1, length, f.get()) != length) return false;
  }
  return std::fflush(f.get()) == 0;
}

std::string makeDataFolder(long records) {
  std::string pattern = (std::filesystem::temp_directory_path() / "meshplay-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return "";
  const std::filesystem::path folder(pattern);
  if (!writeNodeFile((folder / "geodata.dat").string()) ||
      !writeElementFile((folder / "tridata.dat").string()) ||
      !writeResultFile((folder / "result.dat").string(), records)) {
    removeFolder(pattern);
    return "";
  }
  return pattern;
}

void removeFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace bench
