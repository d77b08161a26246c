// Runs a fuzz target once on every file of its corpus, without libFuzzer: the regular and the
// sanitizer builds run it as a test, so that the scanner's comparison with the reference and the
// frame cycle's checks guard every change, not only the fuzzing runs.
//
//   <program>-corpus FOLDER...        every file of the folders
//   <program>-corpus --demo FOLDER    a few inputs made from the demo files in FOLDER, for a
//                                     profile that has no corpus of its own
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/profile.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text up to the end of its first `values` numbers.
std::string firstValues(const std::string& text, long values) {
  std::size_t at = 0;
  for (long k = 0; k < values && at != std::string::npos; ++k) {
    at = text.find_first_not_of(" \t\r\n", at);
    at = at == std::string::npos ? at : text.find_first_of(" \t\r\n", at);
  }
  return at == std::string::npos ? text : text.substr(0, at);
}

// Inputs in the corpus's layout (fuzz/README.md): the grid with three records, read whole and
// with reads cut short, under a rewind, toggles and zoom; a last record cut short; and no result
// file at all.
std::vector<std::string> demoInputs(const std::filesystem::path& folder) {
  const std::string grid =
      readFile(folder / "geodata.dat") + '\0' + readFile(folder / "tridata.dat");
  const std::string results = readFile(folder / "result.dat");
  const std::string three = firstValues(results, 3L * RECORD_VALUES);
  const std::string actions = std::string("\x0f\x00\x03\x00\x01\x02\x05\x06\x0b", 9);
  return {grid + '\0' + three, grid + '\0' + three + '\0' + '\x07' + actions,
          grid + '\0' + three + '\0' + '\x3f' + actions,
          grid + '\0' + firstValues(results, RECORD_VALUES + RECORD_VALUES / 2), grid};
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> inputs;
  if (argc == 3 && std::strcmp(argv[1], "--demo") == 0) {
    inputs = demoInputs(argv[2]);
  } else {
    for (int i = 1; i < argc; ++i) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
        inputs.push_back(readFile(entry.path()));
      }
    }
  }
  for (const std::string& data : inputs) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  }
  std::fprintf(stderr, "%zu inputs\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
