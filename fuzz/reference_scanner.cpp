// The oracle's scans: find the extent of the field by the written rules, then convert it with the
// C library.
#include "reference_scanner.h"

#include <cctype>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// Skips white space; false if the text is absent or has ended.
bool skipSpace(ReferenceText& r) {
  if (!r.present) return false;
  while (r.pos < r.text.size() && std::isspace(static_cast<unsigned char>(r.text[r.pos]))) ++r.pos;
  return r.pos < r.text.size();
}

std::size_t digitsFrom(std::string_view text, std::size_t at) {
  std::size_t i = at;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  return i - at;
}

// The length of "infinity", "inf" or "nan" (any case) at `at`, or 0.
std::size_t wordAt(std::string_view text, std::size_t at) {
  for (std::string_view word : {"infinity", "inf", "nan"}) {
    std::size_t i = 0;
    while (i < word.size() && at + i < text.size() &&
           std::tolower(static_cast<unsigned char>(text[at + i])) == word[i]) {
      ++i;
    }
    if (i == word.size()) return i;
  }
  return 0;
}

}  // namespace

bool referenceInt(ReferenceText& r, std::int32_t& out) {
  if (!skipSpace(r)) return false;
  const std::size_t sign = (r.text[r.pos] == '+' || r.text[r.pos] == '-') ? 1 : 0;
  const std::size_t digits = digitsFrom(r.text, r.pos + sign);
  if (digits == 0) return false;
  // strtoll saturates at 64 bits, which lie beyond every 32-bit bound.
  const long long value =
      std::strtoll(std::string(r.text.substr(r.pos, sign + digits)).c_str(), nullptr, 10);
  constexpr long long LOW = std::numeric_limits<std::int32_t>::min();
  constexpr long long HIGH = std::numeric_limits<std::int32_t>::max();
  out = static_cast<std::int32_t>(value < LOW ? LOW : value > HIGH ? HIGH : value);
  r.pos += sign + digits;
  return true;
}

bool referenceReal(ReferenceText& r, double& out) {
  if (!skipSpace(r)) return false;
  const std::string_view t = r.text;
  const std::size_t start = r.pos;
  std::size_t i = start + ((t[start] == '+' || t[start] == '-') ? 1 : 0);
  if (const std::size_t word = wordAt(t, i)) {
    i += word;
  } else {
    const std::size_t whole = digitsFrom(t, i);
    const std::size_t fraction =
        i + whole < t.size() && t[i + whole] == '.' ? digitsFrom(t, i + whole + 1) : 0;
    // A point with no digit on either side is no number at all.
    if (whole + fraction == 0) return false;
    i += whole + (i + whole < t.size() && t[i + whole] == '.' ? 1 + fraction : 0);
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
      const std::size_t sign = i + 1 < t.size() && (t[i + 1] == '+' || t[i + 1] == '-') ? 1 : 0;
      const std::size_t exponent = digitsFrom(t, i + 1 + sign);
      if (exponent > 0) i += 1 + sign + exponent;
    }
  }
  // strtod reads the field as the scanner must: "nan" alone, since the extent ends at the word.
  out = std::strtod(std::string(t.substr(start, i - start)).c_str(), nullptr);
  r.pos = i;
  return true;
}
