// The number scanner: a fast path that converts in place in the stream's buffer, and a slow path
// for the rare field so long that it runs past the buffered data.
#include "model/scanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include <fast_float/fast_float.h>

namespace {

// Bytes made available from the start of each field, so that every ordinary number (and the
// exponent, sign or word that decides where it ends) lies contiguously in the buffer.
constexpr std::size_t LOOKAHEAD = 64;

inline bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool isDigit(int c) {
  return c >= '0' && c <= '9';
}
inline int lower(char c) {
  return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}
inline bool isLetter(char c) {
  return lower(c) >= 'a' && lower(c) <= 'z';
}

// Skips white space and makes LOOKAHEAD bytes available; false when the data have ended.
bool startField(InputStream& s) {
  for (;;) {
    while (s.pos < s.end && isSpace(s.buffer[s.pos])) ++s.pos;
    if (s.pos < s.end) break;
    if (s.atEnd) return false;
    fillStream(s, 1);
  }
  // Checked here, not only in fillStream: nearly every field finds its lookahead already there.
  if (s.end - s.pos < LOOKAHEAD && !s.atEnd) fillStream(s, LOOKAHEAD);
  return true;
}

// The next byte, refilling as needed, or -1 at the end of the data.
inline int peekChar(InputStream& s) {
  if (s.pos == s.end) fillStream(s, 1);
  return s.pos < s.end ? static_cast<unsigned char>(s.buffer[s.pos]) : -1;
}

// "inf", "infinity" or "nan" after an optional sign that is `offset` bytes long.
bool scanWord(InputStream& s, std::size_t offset, bool negative, double& out) {
  const char* p = s.buffer + s.pos + offset;
  const std::size_t available = s.end - s.pos - offset;
  auto matches = [&](const char* word, std::size_t length) {
    if (available < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (lower(p[i]) != word[i]) return false;
    }
    return true;
  };
  double value;
  std::size_t length;
  if (matches("infinity", 8)) {
    value = std::numeric_limits<double>::infinity();
    length = 8;
  } else if (matches("inf", 3)) {
    value = std::numeric_limits<double>::infinity();
    length = 3;
  } else if (matches("nan", 3)) {
    value = std::numeric_limits<double>::quiet_NaN();
    length = 3;
  } else {
    return false;
  }
  out = std::copysign(value, negative ? -1.0 : 1.0);
  s.pos += offset + length;
  return true;
}

// A decimal real whose text reaches the end of the buffered data, which only a field longer than
// LOOKAHEAD can do. It is read one byte at a time into a canonical form 0.DDD...eE that keeps the
// significant digits which can decide the rounding, then converted. The caller has checked that the
// text starts a valid number, so this path cannot fail.
bool scanLongReal(InputStream& s, double& out) {
  // 767 significant digits decide any double's rounding; digits beyond those kept only matter by
  // being non-zero, which one trailing '1' stands for.
  constexpr int KEEP = 780;
  constexpr long long EXPONENT_LIMIT = 1000000000000000LL;  // far beyond any double, no overflow
  char text[KEEP + 40];
  char* digits = text + 3;  // after "-0."
  int kept = 0;
  bool dropped = false;
  long long exponent = 0;  // value = 0.DDD... x 10^exponent
  auto addToExponent = [&](long long d) {
    exponent = std::clamp(exponent + d, -EXPONENT_LIMIT, EXPONENT_LIMIT);
  };
  auto keep = [&](int c) {
    if (kept < KEEP) {
      digits[kept++] = static_cast<char>(c);
    } else if (c != '0') {
      dropped = true;
    }
  };

  bool negative = false;
  int c = peekChar(s);
  if (c == '+' || c == '-') {
    negative = c == '-';
    ++s.pos;
  }
  while (isDigit(c = peekChar(s))) {
    ++s.pos;
    if (kept == 0 && c == '0') continue;
    keep(c);
    addToExponent(1);
  }
  if (c == '.') {
    ++s.pos;
    while (isDigit(c = peekChar(s))) {
      ++s.pos;
      if (kept == 0 && c == '0') {
        addToExponent(-1);
        continue;
      }
      keep(c);
    }
  }
  if (c == 'e' || c == 'E') {
    fillStream(s, 3);
    const char* p = s.buffer + s.pos;
    const std::size_t available = s.end - s.pos;
    std::size_t i = 1;
    bool exponentNegative = false;
    if (i < available && (p[i] == '+' || p[i] == '-')) exponentNegative = p[i++] == '-';
    if (i < available && isDigit(p[i])) {
      s.pos += i;
      long long e = 0;
      while (isDigit(c = peekChar(s))) {
        ++s.pos;
        if (e < EXPONENT_LIMIT) e = e * 10 + (c - '0');
      }
      addToExponent(exponentNegative ? -e : e);
    }
  }

  if (kept == 0) {
    out = negative ? -0.0 : 0.0;
    return true;
  }
  if (dropped) digits[kept++] = '1';
  char* first = text + (negative ? 0 : 1);
  text[0] = '-';
  text[1] = '0';
  text[2] = '.';
  char* cursor = digits + kept;
  *cursor++ = 'e';
  // Beyond this the value is infinity or zero whatever the digits are.
  const long long written = std::clamp(exponent, -100000LL, 100000LL);
  cursor = std::to_chars(cursor, text + sizeof text, written).ptr;
  double value = 0.0;
  fast_float::from_chars(first, cursor, value);
  out = value;
  return true;
}

// The powers of ten that a double holds exactly.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t EXACT_MANTISSA_LIMIT = std::uint64_t{1} << 53;

// The form a simulation writes ("-1.234567e-03"): at most 19 digits, an exponent of at most three
// digits, and a value that follows from one multiplication or division of two exactly represented
// doubles, the mantissa below 2^53 and the power of ten at most 10^22 (Clinger's fast path): the
// single rounding of that operation is the correctly rounded result. Nearly every value of a
// result file takes this path, which costs a fraction of the general converter's. Anything else,
// including a number that ends within reach of the buffered data's end, returns false and is left
// to the general path. On success `stop` is where the number ends.
inline bool scanPlainReal(const char* first, const char* last, bool atEnd, double& out,
                          const char*& stop) {
  const char* p = first;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int scale = 0;
  while (p < last && isDigit(*p)) {
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    ++digits;
    ++p;
  }
  if (p < last && *p == '.') {
    ++p;
    while (p < last && isDigit(*p)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
      ++digits;
      --scale;
      ++p;
    }
  }
  if (digits == 0 || digits > 19) return false;
  if (p < last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool exponentNegative = false;
    if (q < last && (*q == '+' || *q == '-')) exponentNegative = *q++ == '-';
    if (q < last && isDigit(*q)) {
      int exponent = 0;
      int exponentDigits = 0;
      while (q < last && isDigit(*q)) {
        exponent = exponent * 10 + (*q - '0');
        ++q;
        if (++exponentDigits > 3) return false;
      }
      scale += exponentNegative ? -exponent : exponent;
      p = q;
    }
  }
  if (!atEnd && last - p <= 2) return false;
  if (mantissa > EXACT_MANTISSA_LIMIT || scale < -22 || scale > 22) {
    if (mantissa != 0) return false;
    scale = 0;
  }
  const double m = static_cast<double>(mantissa);
  const double value = scale < 0 ? m / EXACT_POWERS_OF_TEN[-scale] : m * EXACT_POWERS_OF_TEN[scale];
  out = negative ? -value : value;
  stop = p;
  return true;
}

}  // namespace

bool scanInt(InputStream& s, std::int32_t& out) {
  if (!startField(s)) return false;
  const char* p = s.buffer + s.pos;
  const std::size_t available = s.end - s.pos;
  std::size_t i = 0;
  const bool negative = p[0] == '-';
  if (p[0] == '+' || p[0] == '-') i = 1;
  if (i >= available || !isDigit(p[i])) return false;
  s.pos += i;
  // Accumulates only while within reach of the 32-bit range, so it cannot overflow.
  constexpr std::int64_t BEYOND = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  int c;
  while (isDigit(c = peekChar(s))) {
    ++s.pos;
    if (magnitude <= BEYOND) magnitude = magnitude * 10 + (c - '0');
  }
  if (negative) {
    out = magnitude >= BEYOND ? std::numeric_limits<std::int32_t>::min()
                              : static_cast<std::int32_t>(-magnitude);
  } else {
    out = magnitude >= BEYOND ? std::numeric_limits<std::int32_t>::max()
                              : static_cast<std::int32_t>(magnitude);
  }
  return true;
}

bool scanReal(InputStream& s, double& out) {
  if (!startField(s)) return false;
  const char* first = s.buffer + s.pos;
  const char* last = s.buffer + s.end;
  const char* p = first;
  if (*p == '+' || *p == '-') ++p;
  if (p < last && isLetter(*p)) {
    return scanWord(s, static_cast<std::size_t>(p - first), *first == '-', out);
  }
  const char* stop = nullptr;
  if (scanPlainReal(first, last, s.atEnd, out, stop)) {
    s.pos = static_cast<std::size_t>(stop - s.buffer);
    return true;
  }
  // The converter takes a leading '-' but not a '+'; after a '+' no second sign may follow.
  if (*first == '+' && (p == last || *p == '-' || *p == '+')) return false;
  double value = 0.0;
  const fast_float::from_chars_result r =
      fast_float::from_chars(*first == '+' ? p : first, last, value);
  if (r.ec != std::errc()) return false;
  // A number that ends within reach of the buffered data's end may go on (more digits, or an
  // exponent after a trailing "e" or "e+"): only a very long one gets there.
  if (!s.atEnd && last - r.ptr <= 2) return scanLongReal(s, out);
  out = value;
  s.pos = static_cast<std::size_t>(r.ptr - s.buffer);
  return true;
}
