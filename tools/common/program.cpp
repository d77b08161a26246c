// The companions' main frame.
#include "common/program.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "common/failure.h"
#include "common/signals.h"

namespace companion {

void Program::warn(const std::string& message) const {
  std::fprintf(stderr, "%s: warning: %s\n", name.c_str(), message.c_str());
}

std::string notFiniteMessage(long replaced) {
  if (replaced == 0) return "";
  return std::to_string(replaced) +
         (replaced == 1 ? " value that is not a finite number"
                        : " values that are not finite numbers") +
         " (NaN or infinity) written as 0";
}

void warnNotFinite(const Program& program, long replaced) {
  if (replaced != 0) program.warn(notFiniteMessage(replaced));
}

int runProgram(int argc, char** argv, const CommandLine& cli,
               const std::function<void(const Program&, const std::string&)>& body) {
  Program program;
  program.name = argc > 0 && argv[0] != nullptr && *argv[0] != '\0'
                     ? std::filesystem::path(argv[0]).filename().string()
                     : "meshplay";
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  const SignalWatch watch;
  try {
    std::string operand;
    switch (parseCommandLine(cli, argc, argv, operand)) {
      case Request::Help: std::fputs(usage(cli, program.name).c_str(), stdout); return 0;
      case Request::Version:
        std::printf("%s %s\n", program.name.c_str(), MESHPLAY_VERSION);
        return 0;
      case Request::Run: break;
    }
    body(program, operand);
    return 0;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s: %s\n", program.name.c_str(), failure.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", program.name.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program.name.c_str(), e.what());
  }
  return 1;
}

}  // namespace companion
