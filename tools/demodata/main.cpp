// meshplay-a-demodata, meshplay-b-demodata, ...: write the demo model's three input files for the
// program of the same profile into a folder, ready for the viewer to be started there.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "demo_data.h"

int main(int argc, char** argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "demodata";
  if (argc > 2 ||
      (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
    std::fprintf(stderr,
                 "usage: %s [FOLDER]\n"
                 "Writes geodata.dat, tridata.dat and result.dat for a %d x %d grid shaken at its "
                 "base, %d records up to t = %d s, into FOLDER (default: the current folder).\n",
                 name, NX, NY, demo::RECORD_COUNT, T_END);
    return argc == 2 ? 0 : 2;
  }
  const std::string folder = argc == 2 ? argv[1] : ".";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot create %s: %s\n", name, folder.c_str(), ec.message().c_str());
    return 1;
  }
  std::string error;
  if (!demo::writeDemoData(folder, error)) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    return 1;
  }
  std::printf("%s: wrote %d nodes, %d triangles and %d records (t = 0 ... %d s) into %s\n", name,
              NODE_COUNT, ELEMENT_COUNT, demo::RECORD_COUNT, T_END, folder.c_str());
  return 0;
}
