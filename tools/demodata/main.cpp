// meshplay-a-demodata, meshplay-b-demodata, ...: write the demo model's three input files for the
// program of the same profile into a folder, ready for the viewer to be started there.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/failure.h"
#include "common/program.h"
#include "demodata/demo_data.h"

namespace {

using namespace companion;

const CommandLine COMMAND_LINE = {
    "FOLDER",
    false,
    "",
    "Writes geodata.dat, tridata.dat and result.dat of the demo run for the program of the same\n"
    "profile into FOLDER (default: the current folder), which is made if need be: a block on a\n"
    "shaken base, one record every 0.01 s up to the end time.",
    {}};

void writeDemo(const Program& program, const std::string& operand) {
  const std::string folder = operand.empty() ? "." : operand;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw Failure(folder + ": " + ec.message());
  demo::writeDemoData(folder);
  std::printf("%s: wrote %d nodes, %d triangles and %d records (t = 0 ... %d s) into %s\n",
              program.name.c_str(), NODE_COUNT, ELEMENT_COUNT, demo::RECORD_COUNT, T_END,
              folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  return runProgram(argc, argv, COMMAND_LINE, writeDemo);
}
