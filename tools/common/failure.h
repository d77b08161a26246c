// How a companion fails: an exception carrying the one line it prints, caught in one place in its
// main (program.h), after the destructors of everything it made have cleaned up.
#pragma once

#include <stdexcept>
#include <string>

namespace companion {

// "<program>: <what()>" on stderr, exit status 1.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// SIGINT, SIGTERM or SIGHUP came (signals.h).
class Interrupted : public Failure {
 public:
  Interrupted() : Failure("interrupted") {}
};

// "<path>: <reason of errno>", as the C library says it.
Failure systemFailure(const std::string& path, int error);

// A number as messages give it, "%g": "0.01", "1e+300".
std::string messageNumber(double v);

}  // namespace companion
