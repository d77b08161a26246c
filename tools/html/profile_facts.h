// The constants the player draws with, as the viewer has them: for the programs that write or
// serve a page, compiled with their profile.
#pragma once

#include <string>
#include <utility>

#include "common/mesh_values.h"
#include "model/display_settings.h"
#include "model/profile.h"

namespace companion {

// PageFacts::profile: the constants as JSON members.
inline std::string profileFacts() {
  std::string json;
  const std::pair<const char*, double> facts[] = {{"NX", NX},
                                                  {"NY", NY},
                                                  {"HW", HW},
                                                  {"HH", HH},
                                                  {"FW", FW},
                                                  {"YLABEL", YLABEL},
                                                  {"YTOP", YTOP},
                                                  {"YBOT", YBOT},
                                                  {"T_END", T_END},
                                                  {"SCALE_INIT", DisplaySettings{}.viewScale},
                                                  {"SCALE_STEP", SCALE_STEP}};
  for (const auto& [key, value] : facts) {
    if (!json.empty()) json += ", ";
    json += std::string("\"") + key + "\": ";
    appendNumber(json, value);
  }
  return json;
}

}  // namespace companion
