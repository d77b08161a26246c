// Console output of the viewer.
#include "viewer/console.h"

#include <cstdio>

void printMessage(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void printProgress(double t) {
  std::printf("Progress:  Virtual:%lf[s]\r", t);
  std::fflush(stdout);
}
