// The page that plays a run (the player's files, tools/player/), its template filled in for a
// page that carries its data (meshplay-X-html) or for a live one that a server feeds
// (meshplay-X-serve). The bytes it carries are described in docs/stream-format.md.
#pragma once

#include <string>
#include <vector>

namespace companion {

// What the page says of the program and its model: the player draws with the viewer's constants.
struct PageFacts {
  std::string title;    // the page's title and heading, as the user gave it (UTF-8)
  std::string program;  // the viewer's name, "meshplay-b"
  std::string profile;  // the profile's constants as JSON members ("\"NX\": 10, ...")
  int digits = 0;       // significant digits kept (--digits), 0 when every value is exact
};

// The page's template filled in, as its text around the holes left for what only its writer
// knows: for a page, one hole, where the run's data go; for a `live` page (its data come from a
// server), one before each nonce="..." of its inline style and script, where its server puts each
// response's own nonce, the same as in its Content-Security-Policy, so that no other script or
// style runs. Whatever the facts hold (a title of "@DATA@", say) is text, never a hole.
std::vector<std::string> pageParts(const PageFacts& facts, bool live);

}  // namespace companion
