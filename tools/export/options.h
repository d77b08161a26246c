// The exporter's command line: OUTPUT [--every N] [--from T] [--to T], -h/--help, --version.
#pragma once

#include <string>

#include "companion.h"

enum class Format { ParaView, Gmsh };

struct ExportOptions {
  std::string output;
  Format format = Format::ParaView;  // from the output's extension
  long every = 1;                    // every N-th record of the cut run, the first included
  companion::TimeRange range;
};

// Reads the command line. -h/--help and --version print on stdout and exit with status 0; a
// missing, unknown or out-of-range argument fails naming it.
ExportOptions parseOptions(int argc, char** argv);
