// The recorder's command line.
#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/profile.h"

namespace {

// Model seconds per second of video: far enough either way for any use, and bounded, so that the
// times of frames stay ordinary numbers.
constexpr double MIN_SPEED = 1e-6, MAX_SPEED = 1e6;

void printUsage() {
  const char* name = companion::programName().c_str();
  std::printf(
      "usage: %s OUTPUT [options]\n"
      "Records the replay of geodata.dat, tridata.dat and result.dat in the current folder, each\n"
      "frame drawn as the viewer draws it, from the first record to the end of the run (t = %d s\n"
      "or the end of the data).\n"
      "\n"
      "OUTPUT is FILE.mp4 (H.264), FILE.webm (VP9) or FILE.gif, encoded by ffmpeg, or a folder\n"
      "(FOLDER/ or an existing folder) that receives frame-000000.png, frame-000001.png, ...\n"
      "\n"
      "  --fps N      frames per second of video (default 30)\n"
      "  --speed X    model seconds per second of video (default 1): frame k shows the last "
      "record\n"
      "               whose time is at most t0 + k*X/N, t0 the first record's time\n"
      "  --every N    one frame for every N-th record instead, the first and the last included\n"
      "  --from T     leave out the records before time T (seconds)\n"
      "  --to T       leave out the records after time T (seconds)\n"
      "  --scale N    enlarge each frame N times, pixel for pixel (default 1, at most 10)\n"
      "  -h, --help   show this help\n"
      "  --version    show the version\n"
      "\n"
      "Without a usable X display the frames are drawn on a private Xvfb.\n",
      name, T_END);
}

}  // namespace

RecordOptions parseOptions(int argc, char** argv) {
  RecordOptions o;
  bool speedGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage();
      std::exit(0);
    }
    if (arg == "--version") {
      companion::printVersion();
      std::exit(0);
    }
    if (arg.size() < 2 || arg[0] != '-') {
      if (!o.output.empty()) companion::fail("more than one OUTPUT: " + o.output + " and " + arg);
      o.output = arg;
      continue;
    }
    // --name VALUE or --name=VALUE
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool known = name == "--fps" || name == "--speed" || name == "--every" ||
                       name == "--from" || name == "--to" || name == "--scale";
    if (!known) companion::fail("unknown option '" + arg + "' (see --help)");
    const char* value = nullptr;
    if (equals != std::string::npos) {
      value = argv[i] + equals + 1;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      companion::fail("option " + name + " needs a value");
    }
    if (name == "--fps") o.fps = companion::parseCount(name, value, 1, 1000);
    if (name == "--every") o.every = companion::parseCount(name, value, 1, 1000000000);
    if (name == "--scale") o.scale = companion::parseCount(name, value, 1, 10);
    if (name == "--from") o.range.from = companion::parseTime(name, value);
    if (name == "--to") o.range.to = companion::parseTime(name, value);
    if (name == "--speed") {
      o.speed = companion::parseTime(name, value);
      speedGiven = true;
      if (!(o.speed >= MIN_SPEED && o.speed <= MAX_SPEED)) {
        companion::fail("invalid value '" + std::string(value) +
                        "' for --speed: expected model seconds per second of video from 1e-06 "
                        "to 1e+06");
      }
    }
  }
  if (o.output.empty()) companion::fail("no OUTPUT given (see --help)");
  if (speedGiven && o.every != 0) companion::fail("--speed and --every exclude each other");
  if (o.range.from > o.range.to) companion::fail("--from lies after --to: no record to record");
  return o;
}
