// The profile's facts that the player draws with, as the page carries them: for the programs that
// write or serve a page, compiled with their profile.
#pragma once

#include <string>

#include "common/mesh_values.h"
#include "model/profile_facts.h"

namespace companion {

// PageFacts::profile: the facts as JSON members ("\"NX\": 10, ...").
inline std::string profileFacts() {
  std::string json;
  for (const ProfileFact& fact : PROFILE_FACTS) {
    if (!fact.drawn) continue;
    if (!json.empty()) json += ", ";
    json += std::string("\"") + fact.name + "\": ";
    appendNumber(json, fact.value);
  }
  return json;
}

}  // namespace companion
