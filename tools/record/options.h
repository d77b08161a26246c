// The recorder's command line: where the frames go, which records they show, and their size.
#pragma once

#include <string>

#include "companion.h"

struct RecordOptions {
  std::string output;          // a .mp4, .webm or .gif file, or a folder for PNG frames
  long fps = 30;               // frames per second of video
  double speed = 1.0;          // model seconds per second of video
  long every = 0;              // 0: frames in model time; N: every N-th record instead
  companion::TimeRange range;  // --from, --to
  long scale = 1;              // each pixel repeated scale x scale times
};

// Reads the command line. -h/--help and --version print on stdout and exit 0; anything wrong (an
// unknown option, a missing or out-of-range value, no OUTPUT) fails naming it.
RecordOptions parseOptions(int argc, char** argv);
