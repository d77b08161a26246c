// The in-process tests' fixture: the viewer reset, and result records.
#include "viewer_fixture.h"

#include <cstdio>

#include "demodata/demo_data.h"
#include "model/replay.h"
#include "viewer/frame.h"

void ViewerTest::SetUp() {
  resetViewer();
  ASSERT_NO_THROW(companion::demo::writeGrid(dir.path()));
}

void ViewerTest::start(const std::string& results) {
  dir.write("result.dat", results);
  openInputs(state);
}

std::string ViewerTest::frame() {
  gl.primitives.clear();
  gl.text.clear();
  testing::internal::CaptureStdout();
  drawFrame();
  return testing::internal::GetCapturedStdout();
}

std::string recordText(double t, int moved, double dx, double dy) {
  auto number = [](double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return std::string(text);
  };
  std::string text = number(t);
  for (int i = 1; i < HEADER_VALUES; ++i) text += " 0.5";
  text += "\n";
  for (int i = 0; i < VECTOR_PAIRS; ++i) {
    text += (i == moved) ? number(dx) + " " + number(dy) + "\n" : "0 0\n";
  }
  for (int i = 0; i < BASE_PAIRS; ++i) text += "0.25 0\n";
  return text;
}

std::string times(std::initializer_list<double> ts) {
  std::string text;
  for (double t : ts) text += recordText(t);
  return text;
}

std::string progressLine(double t) {
  char text[400];
  std::snprintf(text, sizeof text, "Progress:  Virtual:%lf[s]\r", t);
  return text;
}
