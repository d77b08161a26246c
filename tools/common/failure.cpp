// The pieces of failure messages.
#include "common/failure.h"

#include <cstdio>
#include <cstring>

namespace companion {

Failure systemFailure(const std::string& path, int error) {
  return Failure(path + ": " + std::strerror(error));
}

std::string messageNumber(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace companion
