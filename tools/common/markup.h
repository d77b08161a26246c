// Text put into XML or HTML, where it stands as itself whatever it holds.
#pragma once

#include <string>

namespace companion {

// `text` with &, <, > and " written as the entities that stand for them.
inline std::string escapeMarkup(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace companion
