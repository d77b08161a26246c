// The number scanner. A field is made contiguous in the stream's buffer and converted by one call
// of fast_float (reals) or std::from_chars (integers), a real of the plain form a simulation writes
// by an exact hand-written path first; only a number longer than the whole buffer takes the slow
// path, which streams it into a short text of the same value for the same conversion.
#include "model/scanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

#include <fast_float/fast_float.h>

#include "model/white_space.h"

namespace {

inline bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

// Skips white space before a field, reading more as needed; false when the data have ended.
inline bool skipSpace(InputStream& s) {
  for (;;) {
    while (s.pos < s.end && isSpace(s.data[s.pos])) ++s.pos;
    if (s.pos < s.end) return true;
    if (s.atEnd) return false;
    fillStream(s, 1);
  }
}

// A field is complete once white space follows it in the buffer, or the data have ended: then a
// conversion of the buffered bytes is final. Otherwise the buffered bytes end inside the field.
// The number's own text holds no white space, so the search starts where the conversion stopped,
// which is nearly always at the white space itself.
inline bool fieldIsComplete(const InputStream& s, const char* stop) {
  const char* last = s.data + s.end;
  if (stop < last && isSpace(*stop)) return true;
  return s.atEnd || std::find_if(stop, last, isSpace) != last;
}

// Reads more of a field that the buffered bytes end inside; false when the buffer is full of it.
// Reads only as much as the file has at the moment: a writer that pauses after a complete field
// never holds up its conversion.
bool extendField(InputStream& s) {
  if (s.end - s.pos >= STREAM_BUFFER_SIZE) return false;
  fillStream(s, s.end - s.pos + 1);
  return true;
}

struct Conversion {
  bool ok = false;
  const char* stop = nullptr;  // one past the number's text; where it started on failure
};

// The powers of ten that a double holds exactly.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The form a simulation writes ("-1.234567e-03"), converted without the library: at most 19
// digits, an exponent of at most three digits, and a value that one multiplication or division of
// two exactly represented doubles gives, the digits as an integer up to 2^53 and the power of ten
// up to 10^22 (Clinger's fast path), so that the operation's one rounding is the correct one.
// Nearly every value of a result file takes it, at a fraction of the library's cost (the reading
// benchmark shows by how much); anything else returns false and is left to the library.
bool convertPlainReal(const char* first, const char* last, double& value, const char*& stop) {
  const char* p = first;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t mantissa = 0;
  int digits = 0, scale = 0;
  for (; p < last && isDigit(*p); ++p, ++digits) mantissa = mantissa * 10 + (*p - '0');
  if (p < last && *p == '.') {
    for (++p; p < last && isDigit(*p); ++p, ++digits, --scale)
      mantissa = mantissa * 10 + (*p - '0');
  }
  if (digits == 0 || digits > 19) return false;
  if (p < last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    const bool negativeExponent = q < last && *q == '-';
    if (q < last && (*q == '+' || *q == '-')) ++q;
    int exponent = 0, exponentDigits = 0;
    for (; q < last && isDigit(*q); ++q) {
      if (++exponentDigits > 3) return false;
      exponent = exponent * 10 + (*q - '0');
    }
    if (exponentDigits > 0) {
      scale += negativeExponent ? -exponent : exponent;
      p = q;
    }
  }
  if (mantissa > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) {
    if (mantissa != 0) return false;
    scale = 0;
  }
  const double m = static_cast<double>(mantissa);
  const double magnitude =
      scale < 0 ? m / EXACT_POWERS_OF_TEN[-scale] : m * EXACT_POWERS_OF_TEN[scale];
  value = negative ? -magnitude : magnitude;
  stop = p;
  return true;
}

// The longest prefix of [first, last) that is a decimal real, or one of the words.
Conversion convertReal(const char* first, const char* last, double& value) {
  const char* stop = nullptr;
  if (convertPlainReal(first, last, value, stop)) return {true, stop};
  const char* p = first;
  // The library takes a leading '-' only; after a '+' no second sign may follow.
  if (*p == '+' && ++p < last && (*p == '-' || *p == '+')) return {false, first};
  if (p == last) return {false, first};
  const fast_float::from_chars_result r = fast_float::from_chars(p, last, value);
  if (r.ec == std::errc::invalid_argument) return {false, first};
  // The library also takes "nan(chars)"; the scanner reads the word and leaves the rest.
  if (std::isnan(value)) return {true, p + (*p == '-' ? 4 : 3)};
  return {true, r.ptr};
}

// The longest prefix that is a decimal integer; beyond 32 bits the value saturates.
Conversion convertInt(const char* first, const char* last, std::int32_t& value) {
  const bool negative = *first == '-';
  const char* digits = (*first == '+' || negative) ? first + 1 : first;
  if (digits == last || !isDigit(*digits)) return {false, first};
  const std::from_chars_result r = std::from_chars(negative ? first : digits, last, value);
  if (r.ec == std::errc::result_out_of_range) {
    value = negative ? std::numeric_limits<std::int32_t>::min()
                     : std::numeric_limits<std::int32_t>::max();
  }
  return {true, r.ptr};
}

// The next byte, reading more as needed, or -1 at the end of the data.
int peekChar(InputStream& s) {
  if (s.pos == s.end) fillStream(s, 1);
  return s.pos < s.end ? static_cast<unsigned char>(s.data[s.pos]) : -1;
}

// 767 significant digits decide the rounding of any double; a digit beyond those matters only by
// being non-zero, which one more '1' stands for. An integer of more than ten digits saturates.
constexpr int KEEP_REAL_DIGITS = 780;
constexpr int KEEP_INT_DIGITS = 11;
constexpr long long EXPONENT_LIMIT = 100000;  // beyond it any digits give infinity or zero
constexpr std::size_t SHORT_TEXT_SIZE = KEEP_REAL_DIGITS + 16;

// The slow path, for a number whose text is longer than the buffer. The caller has found that the
// text starts a valid number. It is consumed byte by byte and written to `text` in a short form of
// the same value: the sign, the significant digits as an integer, and for a real an "e" and the
// decimal exponent that places them. Returns the short text's length.
std::size_t shortenLongNumber(InputStream& s, bool real, char (&text)[SHORT_TEXT_SIZE]) {
  const int keep = real ? KEEP_REAL_DIGITS : KEEP_INT_DIGITS;
  std::size_t n = 0;
  int c = peekChar(s);
  if (c == '+' || c == '-') {
    if (c == '-') text[n++] = '-';
    ++s.pos;
  }
  int kept = 0;
  bool dropped = false;
  long long exponent = 0;  // the value is the kept digits times 10^exponent
  auto digit = [&](bool fraction) {
    ++s.pos;
    if (kept == 0 && c == '0') {
      exponent -= fraction ? 1 : 0;
    } else if (kept < keep) {
      text[n++] = static_cast<char>(c);
      ++kept;
      exponent -= fraction ? 1 : 0;
    } else {
      exponent += fraction ? 0 : 1;
      dropped = dropped || c != '0';
    }
  };
  while (isDigit(c = peekChar(s))) digit(false);
  if (real && c == '.') {
    ++s.pos;
    while (isDigit(c = peekChar(s))) digit(true);
  }
  if (real && (c == 'e' || c == 'E')) {
    fillStream(s, 3);  // "e", a sign, a digit: an exponent only if a digit follows
    const char* p = s.data + s.pos + 1;
    const char* last = s.data + s.end;
    const bool negative = p < last && *p == '-';
    if (p < last && (*p == '+' || *p == '-')) ++p;
    if (p < last && isDigit(*p)) {
      s.pos = static_cast<std::size_t>(p - s.data);
      long long e = 0;
      while (isDigit(c = peekChar(s))) {
        ++s.pos;
        e = std::min(e * 10 + (c - '0'), EXPONENT_LIMIT * 10);
      }
      exponent += negative ? -e : e;
    }
  }
  if (kept == 0) text[n++] = '0';
  if (dropped) {
    text[n++] = '1';
    --exponent;
  }
  if (real) {
    text[n++] = 'e';
    const long long written = std::clamp(exponent, -EXPONENT_LIMIT, EXPONENT_LIMIT);
    n = static_cast<std::size_t>(std::to_chars(text + n, text + SHORT_TEXT_SIZE, written).ptr -
                                 text);
  }
  return n;
}

// Whether a conversion that stopped at `stop`, in a full buffer that ends at `last`, may have been
// cut short by the buffer's end, the number being longer than the whole buffer: an integer's
// digits then run up to the very end; a real's text may go on from a few bytes before it ("inf"
// to "infinity", "1e" to "1e+5"). Written apart for each kind: as one comparison for both, the
// integer scan compiled to 4.5 per cent more instructions.
template <class T>
bool mayRunOn(const char* stop, const char* last) {
  if constexpr (std::is_same_v<T, double>) {
    return last - stop < 8;
  } else {
    return stop == last;
  }
}

// One field of either kind. The buffered bytes are converted where they lie; while they end inside
// the field, more is read and the conversion done again, and a number longer than the whole
// buffer takes the slow path. It is built into each scan as if written out there, which gives
// each the instructions it had when the two were written out apart; left a call of its own, the
// scans ran 0.3 to 0.6 per cent more.
template <class T, Conversion (*convert)(const char*, const char*, T&)>
[[gnu::always_inline]] inline bool scanField(InputStream& s, T& out) {
  if (!skipSpace(s)) return false;
  for (;;) {
    T value{};
    const char* last = s.data + s.end;
    const Conversion c = convert(s.data + s.pos, last, value);
    if (!fieldIsComplete(s, c.stop)) {
      if (extendField(s)) continue;
      if (c.ok && mayRunOn<T>(c.stop, last)) {
        char text[SHORT_TEXT_SIZE];
        const std::size_t length = shortenLongNumber(s, std::is_same_v<T, double>, text);
        convert(text, text + length, out);
        return true;
      }
    }
    if (!c.ok) return false;
    out = value;
    s.pos = static_cast<std::size_t>(c.stop - s.data);
    return true;
  }
}

}  // namespace

bool scanInt(InputStream& s, std::int32_t& out) {
  return scanField<std::int32_t, convertInt>(s, out);
}

bool scanReal(InputStream& s, double& out) {
  return scanField<double, convertReal>(s, out);
}
