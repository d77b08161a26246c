// A configure-time helper: prints the facts of one profile as JSON, taken from the compiled
// constants themselves, so that a profile may compute its counts or set its own layout and the
// build, the manual pages, the package and the tests still get the values the program uses. The
// build compiles it with MESHPLAY_PROFILE set and runs it once per profile (cmake/Profiles.cmake).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "model/display_settings.h"
#include "model/profile_facts.h"

namespace {

// The side of the smaller cells in pixels at the opening zoom, to a tenth: below about three
// pixels the layout that follows the cell size no longer fits (model/profile.h).
const double CELL_PIXELS =
    std::round(10.0 * PIXELS_PER_UNIT * std::min(DX, DY) / SCALE_INIT) / 10.0;

// How many of the four macros that set that layout the profile defines; the build warns about a
// profile of small cells that does not define all four.
constexpr int LAYOUT_MACROS = 0
#ifdef PROFILE_FRAME_HALF_WIDTH
                              + 1
#endif
#ifdef PROFILE_LABEL_DEPTH
                              + 1
#endif
#ifdef PROFILE_BAR_TOP_DEPTH
                              + 1
#endif
#ifdef PROFILE_BAR_BOTTOM_DEPTH
                              + 1
#endif
    ;

// The shortest text that reads back as the same double: "0.005", "77".
std::string number(double v) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

}  // namespace

int main() {
  std::string text = "{";
  const auto add = [&text](const char* key, double value) {
    text += std::string(text.size() > 1 ? ", " : "") + "\"" + key + "\": " + number(value);
  };
  for (const ProfileFact& fact : PROFILE_FACTS) add(fact.name, fact.value);
  add("CELL_PIXELS", CELL_PIXELS);
  add("LAYOUT_MACROS", LAYOUT_MACROS);
  std::puts((text + "}").c_str());
  return 0;
}
