// The exporter's command line, read with getopt_long: options before or after OUTPUT, "--every 5"
// or "--every=5", and "--" before an OUTPUT that starts with a dash.
#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr long EVERY_MAX = 1000000000;

enum : int { OPT_EVERY = 1000, OPT_FROM, OPT_TO, OPT_VERSION };

const option LONG_OPTIONS[] = {
    {"every", required_argument, nullptr, OPT_EVERY},
    {"from", required_argument, nullptr, OPT_FROM},
    {"to", required_argument, nullptr, OPT_TO},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

void printUsage() {
  const char* name = companion::programName().c_str();
  std::printf(
      "usage: %s OUTPUT [--every N] [--from T] [--to T]\n"
      "Writes the run of geodata.dat, tridata.dat and result.dat in the current folder, as %s\n"
      "replays it, for ParaView or Gmsh. The name of OUTPUT chooses the format:\n"
      "  NAME.pvd  a ParaView collection listing NAME/NAME_000000.vtu, ... (one per time step)\n"
      "  NAME.msh  one Gmsh file (MSH 2.2 ASCII): the mesh and one data block per time step\n"
      "Options:\n"
      "  --every N  write every N-th time step of the run, the first included (default 1)\n"
      "  --from T   leave out the time steps before time T (seconds)\n"
      "  --to T     end with the last time step at or before time T (seconds)\n"
      "  -h, --help show this help and exit\n"
      "  --version  show the version and exit\n"
      "Values that are not finite numbers are written as 0, with a warning. See man %s.\n",
      name, MESHPLAY_VIEWER, name);
}

Format formatOf(const std::string& output) {
  const std::filesystem::path path(output);
  if (path.extension() == ".pvd") return Format::ParaView;
  if (path.extension() == ".msh") return Format::Gmsh;
  companion::fail(output + ": unknown output format; name it NAME.pvd (ParaView) or NAME.msh " +
                  "(Gmsh)");
}

}  // namespace

ExportOptions parseOptions(int argc, char** argv) {
  ExportOptions options;
  const char* fromText = nullptr;
  const char* toText = nullptr;
  opterr = 0;  // one message of our own, through companion::fail
  for (int c; (c = getopt_long(argc, argv, ":h", LONG_OPTIONS, nullptr)) != -1;) {
    switch (c) {
      case 'h': printUsage(); std::exit(0);
      case OPT_VERSION: companion::printVersion(); std::exit(0);
      case OPT_EVERY: options.every = companion::parseCount("--every", optarg, 1, EVERY_MAX); break;
      case OPT_FROM:
        options.range.from = companion::parseTime("--from", optarg);
        fromText = optarg;
        break;
      case OPT_TO:
        options.range.to = companion::parseTime("--to", optarg);
        toText = optarg;
        break;
      case ':': companion::fail(std::string(argv[optind - 1]) + " needs a value; see --help");
      default: {
        // A long option is named by its word ("--help=1" too); a short one by optopt, as it may
        // sit inside a group such as "-hx".
        const std::string last = argv[optind - 1];
        const std::string word =
            last.rfind("--", 0) == 0 ? last : std::string("-") + static_cast<char>(optopt);
        companion::fail("unknown option '" + word + "'; see --help");
      }
    }
  }
  if (argc - optind != 1) {
    companion::fail("expected one OUTPUT, NAME.pvd or NAME.msh; see --help");
  }
  if (fromText != nullptr && toText != nullptr && options.range.from > options.range.to) {
    companion::fail("--from " + std::string(fromText) + " lies after --to " + toText);
  }
  options.output = argv[optind];
  options.format = formatOf(options.output);
  return options;
}
