// The pages of the player's files (tools/player/), their templates filled in: the page that plays
// a run, the comparison of several runs, and a study's index; each written with its data
// (meshplay-X-html) or live, fed by a server (meshplay-X-serve). The bytes they carry are
// described in docs/stream-format.md.
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
  // A comparison's runs, in order: each one's name, and, live, the address of its stream.
  std::vector<std::string> runs{};
  std::vector<std::string> streams{};
};

// Which page.
enum class PageKind { Run, Comparison, Index };

// The page's template filled in, as its text around the holes left for what only its writer
// knows: for a page with its data, one hole, where the runs' data go (a comparison's, one
// <script type="application/octet-stream" class="meshplay-data"> a run, in order); for a `live`
// page (its data come from a server), one before each nonce="..." of its inline style and script,
// where its server puts each response's own nonce, the same as in its Content-Security-Policy,
// so that no other script or style runs. Whatever the facts hold (a title of "@DATA@", say) is
// text, never a hole. An index is always live.
std::vector<std::string> pageParts(const PageFacts& facts, bool live,
                                   PageKind kind = PageKind::Run);

// Text as a JSON string that may stand inside a page's <script> (UTF-8 in; invalid bytes stand
// for U+FFFD).
std::string jsonText(const std::string& text);

}  // namespace companion
