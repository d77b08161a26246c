// The oracle's scans: find the extent of the field by the written rules, then convert it.
#include "reference_scanner.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isLetter(char c) {
  return lower(c) >= 'a' && lower(c) <= 'z';
}

// Skips white space; false if the text is absent or has ended.
bool skipSpace(ReferenceText& r) {
  if (!r.present) return false;
  while (r.pos < r.text.size() && isSpace(r.text[r.pos])) ++r.pos;
  return r.pos < r.text.size();
}

bool startsWithWord(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (lower(text[at + i]) != word[i]) return false;
  }
  return true;
}

std::size_t digitsFrom(std::string_view text, std::size_t at) {
  std::size_t i = at;
  while (i < text.size() && isDigit(text[i])) ++i;
  return i - at;
}

}  // namespace

bool referenceInt(ReferenceText& r, std::int32_t& out) {
  if (!skipSpace(r)) return false;
  const std::string_view t = r.text;
  std::size_t i = r.pos;
  const bool negative = t[i] == '-';
  if (t[i] == '+' || t[i] == '-') ++i;
  const std::size_t digits = digitsFrom(t, i);
  if (digits == 0) return false;
  // Saturating accumulation: 11 significant digits already exceed 32 bits.
  long double magnitude = 0;
  for (std::size_t k = 0; k < digits; ++k) {
    magnitude = magnitude * 10 + (t[i + k] - '0');
    if (magnitude > 1e12L) magnitude = 1e12L;
  }
  const long double value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    out = std::numeric_limits<std::int32_t>::max();
  } else if (value < std::numeric_limits<std::int32_t>::min()) {
    out = std::numeric_limits<std::int32_t>::min();
  } else {
    out = static_cast<std::int32_t>(value);
  }
  r.pos = i + digits;
  return true;
}

bool referenceReal(ReferenceText& r, double& out) {
  if (!skipSpace(r)) return false;
  const std::string_view t = r.text;
  const std::size_t start = r.pos;
  std::size_t i = start;
  const bool negative = t[i] == '-';
  if (t[i] == '+' || t[i] == '-') ++i;
  if (i < t.size() && isLetter(t[i])) {
    double value;
    std::size_t length;
    if (startsWithWord(t, i, "infinity")) {
      value = std::numeric_limits<double>::infinity();
      length = 8;
    } else if (startsWithWord(t, i, "inf")) {
      value = std::numeric_limits<double>::infinity();
      length = 3;
    } else if (startsWithWord(t, i, "nan")) {
      value = std::numeric_limits<double>::quiet_NaN();
      length = 3;
    } else {
      return false;
    }
    out = std::copysign(value, negative ? -1.0 : 1.0);
    r.pos = i + length;
    return true;
  }
  const std::size_t whole = digitsFrom(t, i);
  i += whole;
  std::size_t fraction = 0;
  if (i < t.size() && t[i] == '.') {
    fraction = digitsFrom(t, i + 1);
    // A point with no digit on either side is no number at all.
    if (whole + fraction > 0) i += 1 + fraction;
  }
  if (whole + fraction == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    const std::size_t exponent = digitsFrom(t, j);
    if (exponent > 0) i = j + exponent;
  }
  const std::string field(t.substr(start, i - start));
  out = std::strtod(field.c_str(), nullptr);
  r.pos = i;
  return true;
}
