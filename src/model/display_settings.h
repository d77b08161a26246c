// How the viewer shows a record: what the user toggles and zooms, with the values it starts with.
#pragma once

#include <cstdint>

#include "model/profile.h"

// The window's projection: one drawing unit, SCALE_INIT model units at the opening zoom, is this
// many pixels on both axes.
inline constexpr double PIXELS_PER_UNIT = 100.0;

// Flags are bytes holding 0 or 1; toggling maps 1 to 0 and anything else to 1.
struct DisplaySettings {
  std::uint8_t showNodes = 1;     // draw the node points ('n')
  std::uint8_t showElements = 1;  // draw the triangle outlines ('e')
  double viewScale = SCALE_INIT;  // model length units per drawing unit (arrow keys)
};

inline void toggle(std::uint8_t& flag) {
  flag = (flag == 1) ? 0 : 1;
}
