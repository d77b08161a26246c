// The facts of the profile a program is built with, listed once: the build describes the profile
// from them (cmake/describe_profile.cpp), and the web page carries those the player draws with.
#pragma once

#include "model/profile.h"

struct ProfileFact {
  const char* name;
  double value;
  bool drawn;  // the web player draws with it: the page carries it
};

// The player's first, in the order its pages have always carried them.
inline constexpr ProfileFact PROFILE_FACTS[] = {
    {"NX", NX, true},
    {"NY", NY, true},
    {"HW", HW, true},
    {"HH", HH, true},
    {"FW", FW, true},
    {"YLABEL", YLABEL, true},
    {"YTOP", YTOP, true},
    {"YBOT", YBOT, true},
    {"T_END", T_END, true},
    {"SCALE_INIT", SCALE_INIT, true},
    {"SCALE_STEP", SCALE_STEP, true},
    {"DX", DX, false},
    {"DY", DY, false},
    {"NODE_COUNT", NODE_COUNT, false},
    {"ELEMENT_COUNT", ELEMENT_COUNT, false},
    {"HEADER_VALUES", HEADER_VALUES, false},
    {"VECTOR_PAIRS", VECTOR_PAIRS, false},
    {"BASE_PAIRS", BASE_PAIRS, false},
    {"RECORD_VALUES", RECORD_VALUES, false},
};
