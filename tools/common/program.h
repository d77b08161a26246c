// The frame of every companion's main: its name in messages, the signals it stops on, its command
// line, and the one place where a failure becomes a line on stderr and exit status 1.
#pragma once

#include <functional>
#include <string>

#include "common/command_line.h"

namespace companion {

struct Program {
  std::string name;  // the last part of argv[0]: "meshplay-a-export"

  // "<name>: warning: <message>" on stderr; the program goes on.
  void warn(const std::string& message) const;
};

// "<n> values that are not finite numbers (NaN or infinity) written as 0", or "" for none: what
// every writer of a run says once of them; and the warning that says it, if there were any.
std::string notFiniteMessage(long replaced);
void warnNotFinite(const Program& program, long replaced);

// Runs a companion: watches SIGINT, SIGTERM and SIGHUP (signals.h); ignores SIGPIPE and SIGXFSZ,
// so that a reader that went away or a file-size limit shows as a failed write rather than a
// silent death; reads the command line, answering -h/--help with the usage and --version with
// "<name> <version>" on stdout (status 0); then calls `body` with the operand. A Failure, or any
// other exception, from the command line or the body is printed as "<name>: <message>" on stderr
// once everything the body made has been destroyed, and gives status 1; else the status is 0.
int runProgram(int argc, char** argv, const CommandLine& cli,
               const std::function<void(const Program&, const std::string&)>& body);

}  // namespace companion
