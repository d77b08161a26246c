// Text builders for the viewer tests.
#include "viewer_fixture.h"

#include <cstdio>

namespace {
std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}
}  // namespace

std::string restNodesText() {
  std::string text;
  for (int i = 0; i < NODE_COUNT; ++i) {
    text += std::to_string(i) + " " + number((i % (NX + 1)) * DX) + " " +
            number((i / (NX + 1)) * DY) + "\n";
  }
  return text;
}

std::string trianglesText() {
  std::string text;
  int e = 0;
  for (int j = 0; j < NY; ++j) {
    for (int i = 0; i < NX; ++i) {
      const int a = j * (NX + 1) + i, b = a + 1, c = a + NX + 1, d = c + 1;
      text += std::to_string(e++) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
              std::to_string(d) + "\n";
      text += std::to_string(e++) + " " + std::to_string(a) + " " + std::to_string(d) + " " +
              std::to_string(c) + "\n";
    }
  }
  return text;
}

std::string recordText(double t, int moved, double dx, double dy) {
  std::string text = number(t);
  for (int i = 1; i < HEADER_VALUES; ++i) text += " 0.5";
  text += "\n";
  for (int i = 0; i < VECTOR_PAIRS; ++i) {
    text += (i == moved) ? number(dx) + " " + number(dy) + "\n" : "0 0\n";
  }
  for (int i = 0; i < BASE_PAIRS; ++i) text += "0.25 0\n";
  return text;
}
