// The number scanner: what each scan gives and, as much, where it leaves the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

#include "model/scanner.h"
#include "stream_text.h"

namespace {

constexpr std::int32_t INT_SENTINEL = 424242;
constexpr double REAL_SENTINEL = 4242.5;

// Offset in the stream's text of the next byte a scan would read: the descriptor's offset is the
// end of what has been read, of which end - pos bytes are still unread in the buffer.
std::size_t offsetOf(const InputStream& s) {
  const off_t fileOffset = ::lseek(s.fd, 0, SEEK_CUR);
  return static_cast<std::size_t>(fileOffset) - (s.end - s.pos);
}

// Doubles are equal when their bits are, except that any two NaNs of the same sign are.
bool sameReal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  }
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string shown(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 80)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t' || c == '\r' || c == '\v' || c == '\f') {
      out += "\\s";
    } else {
      out += c;
    }
  }
  if (text.size() > 80) out += "...(" + std::to_string(text.size()) + " bytes)";
  return "\"" + out + "\"";
}

// What the C library makes of the start of `text`, restricted to a 32-bit result as "%d" stores
// it: a value beyond the range saturates.
struct Reading {
  bool ok;
  double real;
  std::int32_t integer;
  std::size_t stop;  // bytes of text consumed, white space included
};

Reading strtolAt(const char* text) {
  char* stop = nullptr;
  errno = 0;
  const long value = std::strtol(text, &stop, 10);
  const long clamped = std::clamp<long>(value, std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::max());
  return {stop != text, 0.0, static_cast<std::int32_t>(clamped),
          static_cast<std::size_t>(stop - text)};
}

Reading strtodAt(const char* text) {
  char* stop = nullptr;
  const double value = std::strtod(text, &stop);
  return {stop != text, value, 0, static_cast<std::size_t>(stop - text)};
}

// One scan of the start of `text` as the only content of a stream.
Reading scanIntOf(const std::string& text) {
  InputStream s;
  openText(s, text);
  std::int32_t value = INT_SENTINEL;
  const bool ok = scanInt(s, value);
  const Reading result{ok, 0.0, value, offsetOf(s)};
  closeStream(s);
  return result;
}

Reading scanRealOf(const std::string& text) {
  InputStream s;
  openText(s, text);
  double value = REAL_SENTINEL;
  const bool ok = scanReal(s, value);
  const Reading result{ok, value, 0, offsetOf(s)};
  closeStream(s);
  return result;
}

// ---- White space ---------------------------------------------------------------------------

TEST(ScannerWhiteSpace, EveryKindBeforeAFieldIsSkippedAndLineBreaksMeanNothing) {
  const char* separators[] = {" ", "\t", "\n", "\r", "\v", "\f", "\r\n", " \t\n\r\v\f \n\n"};
  for (const char* separator : separators) {
    SCOPED_TRACE(shown(separator));
    const std::string text = std::string(separator) + "12" + separator;
    const std::size_t afterField = std::strlen(separator) + 2;
    const Reading i = scanIntOf(text);
    EXPECT_TRUE(i.ok);
    EXPECT_EQ(i.integer, 12);
    EXPECT_EQ(i.stop, afterField);
    const Reading r = scanRealOf(text);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.real, 12.0);
    EXPECT_EQ(r.stop, afterField);
  }

  // One record laid out over lines or on one line reads the same.
  for (const char* text : {"1 -2.5 3e1 4", "1\n-2.5\n3e1\n4\n", "\n\n1\r\n-2.5\t3e1\v\f4"}) {
    SCOPED_TRACE(shown(text));
    InputStream s;
    openText(s, text);
    std::int32_t a = 0, d = 0;
    double b = 0.0, c = 0.0;
    EXPECT_TRUE(scanInt(s, a) && scanReal(s, b) && scanReal(s, c) && scanInt(s, d));
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, -2.5);
    EXPECT_EQ(c, 30.0);
    EXPECT_EQ(d, 4);
  }
}

// ---- Integers ------------------------------------------------------------------------------

TEST(ScanInt, TakesSignAndDigitsAndLeavesTheRest) {
  const struct {
    const char* text;
    std::int32_t value;
    std::size_t stop;
  } cases[] = {
      {"0", 0, 1},
      {"-0", 0, 2},
      {"+7", 7, 2},
      {"007", 7, 3},
      {"-000123", -123, 7},
      {"1.5", 1, 1},
      {"12e3", 12, 2},
      {"-12abc", -12, 3},
      {"3-4", 3, 1},
      {"5+", 5, 1},
      {"2147483647", std::numeric_limits<std::int32_t>::max(), 10},
      {"-2147483648", std::numeric_limits<std::int32_t>::min(), 11},
      {"2147483648", std::numeric_limits<std::int32_t>::max(), 10},
      {"-2147483649", std::numeric_limits<std::int32_t>::min(), 11},
      {"99999999999", std::numeric_limits<std::int32_t>::max(), 11},
      {"-99999999999", std::numeric_limits<std::int32_t>::min(), 12},
      {"18446744073709551617", std::numeric_limits<std::int32_t>::max(), 20},
      {"+00000000000000000000000000000001", 1, 33},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Reading got = scanIntOf(c.text);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.integer, c.value);
    EXPECT_EQ(got.stop, c.stop);
  }
}

TEST(ScanInt, SaturatesAndConsumesEveryDigitOfAThousandDigitNumber) {
  for (const char* sign : {"", "+", "-"}) {
    SCOPED_TRACE(sign);
    const std::string text = sign + std::string(5000, '9') + " 8";
    InputStream s;
    openText(s, text);
    std::int32_t value = 0, next = 0;
    EXPECT_TRUE(scanInt(s, value));
    EXPECT_EQ(value, *sign == '-' ? std::numeric_limits<std::int32_t>::min()
                                  : std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(offsetOf(s), text.size() - 2);
    EXPECT_TRUE(scanInt(s, next));
    EXPECT_EQ(next, 8);
  }
}

// ---- Reals ---------------------------------------------------------------------------------

TEST(ScanReal, TakesTheLongestPrefixThatIsADecimalReal) {
  const struct {
    const char* text;
    double value;
    std::size_t stop;
  } cases[] = {
      {"1e+", 1.0, 1},
      {"1e", 1.0, 1},
      {"1e-x", 1.0, 1},
      {"2E5", 2e5, 3},
      {"1.e5", 1e5, 4},
      {".5", 0.5, 2},
      {"5.", 5.0, 2},
      {"-.5e-1", -0.05, 6},
      {"+.5", 0.5, 3},
      {"0x10", 0.0, 1},
      {"1.5.3", 1.5, 3},
      {"1e5e5", 1e5, 3},
      {"1e+5+", 1e5, 4},
      {"1,5", 1.0, 1},
      {"00012.50", 12.5, 8},
      {"1.5E0003", 1.5e3, 8},
      {"-0", -0.0, 2},
      {"7-", 7.0, 1},
      {" 1.234567e-03", 1.234567e-03, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Reading got = scanRealOf(c.text);
    EXPECT_TRUE(got.ok);
    EXPECT_TRUE(sameReal(got.real, c.value)) << got.real << " instead of " << c.value;
    EXPECT_EQ(got.stop, c.stop);
  }
}

TEST(ScanReal, OutOfRangeGivesInfinityZeroOrADenormalAsTheCLibrary) {
  const double inf = std::numeric_limits<double>::infinity();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"1e400", inf},
      {"-1e400", -inf},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"4.9e-324", tiny},
      {"2.4703282292062328e-324", tiny},  // just above half the smallest denormal
      {"2.4703282292062327e-324", 0.0},   // just below
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"1.7976931348623159e308", inf},
      {"1e99999999999999999999999", inf},
      {"1e-99999999999999999999999", 0.0},
      {"0e99999999999999999999999", 0.0},
      {"0.0000000000000000000000000000001e330", 1e299},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Reading got = scanRealOf(c.text);
    EXPECT_TRUE(got.ok);
    EXPECT_TRUE(sameReal(got.real, c.value)) << got.real << " instead of " << c.value;
    EXPECT_TRUE(sameReal(got.real, std::strtod(c.text, nullptr)));
    EXPECT_EQ(got.stop, std::strlen(c.text));
  }
}

TEST(ScanReal, ReadsInfinityAndNanWordsInAnyCaseWithAnOptionalSign) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* text;
    double value;
    std::size_t stop;
  } cases[] = {
      {"inf", inf, 3},       {"INF", inf, 3},         {"-Inf", -inf, 4},    {"+iNfInItY", inf, 9},
      {"infinity5", inf, 8}, {"infinit", inf, 3},     {"infinite", inf, 3}, {"nan", nan, 3},
      {"NaN", nan, 3},       {"-nan", -nan, 4},       {"+NAN", nan, 4},     {"nan(123)", nan, 3},
      {"nanx", nan, 3},      {"-infinity ", -inf, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Reading got = scanRealOf(c.text);
    EXPECT_TRUE(got.ok);
    EXPECT_TRUE(sameReal(got.real, c.value)) << got.real << " instead of " << c.value;
    EXPECT_EQ(got.stop, c.stop);
    EXPECT_FALSE(scanIntOf(c.text).ok) << "a word is no integer";
  }
}

// ---- Fields that cannot start a number -----------------------------------------------------

TEST(ScannerFailure, AFieldThatCannotStartANumberIsLeftAndFailsAgain) {
  const char* texts[] = {"+-1", "-+1", "--1", "-",  ".",  "-.e5", "abc", "+",   "+.",
                         "e5",  "x1",  "(",   "in", "na", "-in",  "#1",  "  +", "\n\n-"};
  for (const char* text : texts) {
    for (bool real : {false, true}) {
      SCOPED_TRACE(std::string(text) + (real ? " as a real" : " as an integer"));
      const std::size_t fieldStart = std::strspn(text, " \n");
      InputStream s;
      openText(s, std::string(text));
      std::int32_t integer = INT_SENTINEL;
      double value = REAL_SENTINEL;
      for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_FALSE(real ? scanReal(s, value) : scanInt(s, integer));
        EXPECT_EQ(integer, INT_SENTINEL);
        EXPECT_EQ(value, REAL_SENTINEL);
        // Only the white space before the field may have gone.
        EXPECT_LE(offsetOf(s), fieldStart);
      }
      closeStream(s);
    }
  }
  // Text that a real accepts but an integer cannot start.
  for (const char* text : {".5", "inf", "nan"}) {
    SCOPED_TRACE(text);
    const Reading got = scanIntOf(text);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.integer, INT_SENTINEL);
    EXPECT_EQ(got.stop, 0u);
  }
}

// ---- Absent and exhausted streams ----------------------------------------------------------

TEST(ScannerStreams, AbsentAndExhaustedStreamsFailAndChangeNothing) {
  std::int32_t integer = INT_SENTINEL;
  double value = REAL_SENTINEL;
  auto expectNothing = [&](InputStream& s) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_FALSE(scanInt(s, integer));
      EXPECT_FALSE(scanReal(s, value));
    }
    EXPECT_EQ(integer, INT_SENTINEL);
    EXPECT_EQ(value, REAL_SENTINEL);
  };
  {
    SCOPED_TRACE("never opened");
    InputStream s;
    expectNothing(s);
  }
  {
    SCOPED_TRACE("read to its end");
    InputStream s;
    openText(s, " 3 4.5 \n ");
    std::int32_t a = 0;
    double b = 0.0;
    EXPECT_TRUE(scanInt(s, a) && scanReal(s, b));
    expectNothing(s);
    closeStream(s);
  }
  {
    SCOPED_TRACE("a directory in the file's place");
    InputStream s;
    ASSERT_TRUE(openStream(s, "/"));
    expectNothing(s);
    closeStream(s);
  }
}

// ---- Buffer boundaries and the differential test against the C library ---------------------

// Where a scan of `text` at `from` should stop, by the C library, as an integer or as a real.
Reading expectedAt(const std::string& text, std::size_t from, bool real) {
  return real ? strtodAt(text.c_str() + from) : strtolAt(text.c_str() + from);
}

// Compares one scan at `from` with the C library's reading of the same text; returns an
// explanation of the difference, or an empty string, and where the scan stopped.
std::string compareScan(InputStream& s, const std::string& text, std::size_t from, bool real,
                        std::size_t& stop) {
  const Reading want = expectedAt(text, from, real);
  std::int32_t integer = INT_SENTINEL;
  double value = REAL_SENTINEL;
  const bool ok = real ? scanReal(s, value) : scanInt(s, integer);
  stop = offsetOf(s);
  char detail[160];
  if (ok != want.ok) {
    std::snprintf(detail, sizeof detail, "scan %s where the C library %s",
                  ok ? "succeeded" : "failed", want.ok ? "converts" : "does not");
    return detail;
  }
  if (!ok) {
    if (integer != INT_SENTINEL || value != REAL_SENTINEL) return "a failed scan changed its value";
    // Only white space may have been consumed.
    if (stop < from || text.find_first_not_of(" \t\n\r\v\f", from) < stop) {
      return "a failed scan consumed part of its field";
    }
    std::int32_t again = INT_SENTINEL;
    double againReal = REAL_SENTINEL;
    if ((real ? scanReal(s, againReal) : scanInt(s, again)) || offsetOf(s) != stop) {
      return "the scan after a failure did not fail at the same place";
    }
    return "";
  }
  if (stop != from + want.stop) {
    std::snprintf(detail, sizeof detail, "stopped after %zu bytes instead of %zu", stop - from,
                  want.stop);
    return detail;
  }
  if (real ? !sameReal(value, want.real) : integer != want.integer) {
    if (real) {
      std::snprintf(detail, sizeof detail, "gave %.17g instead of %.17g", value, want.real);
    } else {
      std::snprintf(detail, sizeof detail, "gave %d instead of %d", integer, want.integer);
    }
    return detail;
  }
  return "";
}

TEST(ScannerBoundary, AFieldSplitByTheFirstReadAtAnyOfItsBytesReadsAsAWhole) {
  // The first read() of a file fills the whole buffer: white space pads the field so that the
  // buffered data end `k` bytes into it.
  const std::string longMantissa =
      "-" + std::string(150, '3') + "." + std::string(150, '7') + "e-2";
  const std::string tinyFraction = "0." + std::string(120, '0') + "1234e-200";
  const struct {
    std::string field;
    bool real;
  } fields[] = {{"-1.234567e-03", true}, {"-2147483649", false}, {"-InFiNiTy", true},
                {"1e+", true},           {longMantissa, true},   {tinyFraction, true},
                {longMantissa, false}};
  for (const auto& f : fields) {
    for (std::size_t k = 0; k <= f.field.size() + 1; k += (k < 80 ? 1 : 7)) {
      SCOPED_TRACE(shown(f.field) + (f.real ? " as a real" : " as an integer") +
                   ", first read ends " + std::to_string(k) + " bytes into it");
      const std::size_t from = STREAM_BUFFER_SIZE - k;
      const std::string text = std::string(from, ' ') + f.field + " 7";
      InputStream s;
      openText(s, text);
      std::size_t stop = 0;
      EXPECT_EQ(compareScan(s, text, 0, f.real, stop), "");
      closeStream(s);
    }
  }
}

TEST(ScannerBoundary, FieldsAndWhiteSpaceLongerThanTheBufferReadAsAWhole) {
  const std::size_t n = 2 * STREAM_BUFFER_SIZE + 123;
  const struct {
    std::string text;
    bool real;
  } cases[] = {
      {std::string(n, ' ') + "\n\t5", false},
      {std::string(n, '\n') + "-2.5e-3", true},
      {"1" + std::string(n, '0') + "e-" + std::to_string(n), true},
      {"0." + std::string(n, '0') + "123e" + std::to_string(n + 3), true},
      {"-" + std::string(n, '0') + "." + std::string(n, '0') + "7e-1", true},
      {"4" + std::string(n, '9') + ".5", true},
      {std::string(n, '0') + "17x", false},
      {"-" + std::string(n, '7'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(shown(c.text) + (c.real ? " as a real" : " as an integer"));
    InputStream s;
    openText(s, c.text + " 8");
    std::size_t stop = 0;
    EXPECT_EQ(compareScan(s, c.text + " 8", 0, c.real, stop), "");
    closeStream(s);
  }
}

// A deterministic generator of tokens from the grammar both readers share: decimal reals, the
// infinity and NaN words, and text that cannot start a number. Hexadecimal reals and "nan(...)"
// are left out: the C library reads them, the scanner by its contract does not.
class TokenSource {
 public:
  explicit TokenSource(std::uint64_t seed) : state_(seed) {}

  // splitmix64: cheap, and the same sequence on every platform.
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  bool chance(std::uint64_t percent) { return below(100) < percent; }

  std::string token() {
    std::string t;
    const std::uint64_t kind = below(10000);
    if (kind < 3000) {
      t = formatted();
    } else if (kind < 5200) {
      t = integer();
    } else if (kind < 7700) {
      t = decimal(25, 25, 4);
    } else if (kind < 8500) {
      t = decimal(20, 20, 0) + (chance(50) ? "e" : "E") + sign() + extremeExponent();
    } else if (kind < 8650) {
      t = decimal(400, 400, 5);  // hundreds of digits
    } else if (kind < 8655) {
      t = decimal(4000, 4000, 5);  // thousands
    } else if (kind < 8675) {
      t = halfway();
    } else if (kind < 8775) {
      t = leadingZeros();
    } else if (kind < 9300) {
      t = word();
    } else {
      static const char* const bad[] = {"+-1", "-+1", "--1", "-", ".", "-.e5", "abc",
                                        "+",   "+.",  "e5",  "E", "#", ",5",   ")"};
      t = bad[below(sizeof bad / sizeof bad[0])];
    }
    if (t.empty()) t = "0";  // an empty token would join two separators
    if (chance(12)) {
      // What may follow a number in malformed text, or extend it.
      static const char* const tails[] = {".",  "e",  "e+", "E-",  "+",   "-", "a", ".5",
                                          "e5", "..", ",",  "e-7", "E+0", "i", "n"};
      t += tails[below(sizeof tails / sizeof tails[0])];
    }
    return t;
  }

  std::string separator() {
    static const char spaces[] = {' ', '\t', '\n', '\r', '\v', '\f'};
    std::size_t n = 1 + below(3);
    if (chance(1)) n = 30 + below(200);
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += chance(70) ? ' ' : spaces[below(6)];
    return out;
  }

 private:
  std::string sign() {
    const std::uint64_t r = below(3);
    return r == 0 ? "" : r == 1 ? "+" : "-";
  }

  std::string digits(std::size_t count) {
    std::string out(count, '0');
    for (char& c : out) c = static_cast<char>('0' + below(10));
    if (count > 0 && chance(10)) std::fill_n(out.begin(), below(count + 1), '0');
    return out;
  }

  // A double as a simulation would print it, from any bit pattern (so every magnitude occurs,
  // and "%f" of a large one has hundreds of digits).
  std::string formatted() {
    std::uint64_t bits = next();
    if (chance(70)) bits = (bits & ~(std::uint64_t{0x7ff} << 52)) | ((1023 - 20 + below(40)) << 52);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    static const char* const formats[] = {"% .6e", "%.6e", "%.17g", "%g", "%.3f", "%+.9E"};
    char text[400];
    std::snprintf(text, sizeof text, formats[below(6)], v);
    return text;
  }

  std::string integer() {
    static const char* const edges[] = {"2147483647", "2147483648",          "2147483646",
                                        "4294967296", "9223372036854775807", "9223372036854775808"};
    if (chance(10)) return sign() + edges[below(6)];
    return sign() + digits(1 + below(chance(20) ? 25 : 10));
  }

  std::string decimal(std::size_t maxInt, std::size_t maxFraction, std::size_t maxExponent) {
    std::string t = sign() + digits(below(maxInt + 1));
    if (chance(60)) t += "." + digits(below(maxFraction + 1));
    if (maxExponent > 0 && chance(40)) {
      t += (chance(50) ? "e" : "E") + sign() + digits(below(maxExponent + 1));
    }
    return t;
  }

  // The exact decimal value of the midpoint between two neighbouring doubles, or a value just
  // above or below it: the cases whose rounding depends on the last of hundreds of digits. In
  // x87 long double (64-bit mantissa) the midpoint is exact, and printf prints it exactly.
  std::string halfway() {
    std::uint64_t bits = next() & ~(std::uint64_t{1} << 63);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    const double up = std::nextafter(d, std::numeric_limits<double>::infinity());
    if (!std::isfinite(d) || !std::isfinite(up)) return "1";
    const long double mid = (static_cast<long double>(d) + static_cast<long double>(up)) / 2;
    char text[900];
    std::snprintf(text, sizeof text, "%.770Le", mid);
    std::string t = text;
    const std::size_t e = t.find('e');
    std::string mantissa = t.substr(0, e);
    const std::size_t last = mantissa.find_last_not_of('0');
    switch (below(3)) {
      case 0: break;                                                   // the tie itself
      case 1: mantissa += std::string(below(2000), '0') + "1"; break;  // just above
      default:                                                         // just below
        if (mantissa[last] >= '1' && mantissa[last] <= '9') {
          mantissa = mantissa.substr(0, last) + static_cast<char>(mantissa[last] - 1) +
                     std::string(mantissa.size() - last - 1, '9') + "99";
        }
    }
    return sign() + mantissa + t.substr(e);
  }

  // Hundreds of zeros before the first significant digit, before or after the point.
  std::string leadingZeros() {
    std::string t = sign();
    if (chance(50)) {
      t += std::string(below(3), '0') + "." + std::string(60 + below(400), '0') +
           digits(1 + below(30));
    } else {
      t += std::string(60 + below(400), '0') + digits(1 + below(20));
      if (chance(50)) t += "." + digits(below(20));
    }
    if (chance(50)) t += (chance(50) ? "e" : "E") + sign() + digits(1 + below(3));
    return t;
  }

  std::string extremeExponent() {
    switch (below(4)) {
      case 0: return std::to_string(290 + below(60));
      case 1: return std::to_string(300 + below(30));
      case 2: return digits(5 + below(20));
      default: return std::string(below(30), '0') + std::to_string(below(400));
    }
  }

  std::string word() {
    static const char* const words[] = {"inf", "infinity", "nan", "infinit", "in"};
    std::string w = words[below(5)];
    for (char& c : w) {
      if (chance(50)) c = static_cast<char>(c - 'a' + 'A');
    }
    return sign() + w;
  }

  std::uint64_t state_;
};

// Puts the stream in the state a read() that returned the text up to `cut` leaves (a pipe or a
// terminal can stop anywhere): the unread text from `from` to `cut` buffered at the buffer's end,
// the descriptor's offset at `cut`.
void cutReadAt(InputStream& s, const std::string& text, std::size_t from, std::size_t cut) {
  const std::size_t length = cut - from;
  std::memcpy(s.buffer + STREAM_BUFFER_SIZE - length, text.data() + from, length);
  s.pos = STREAM_BUFFER_SIZE - length;
  s.end = STREAM_BUFFER_SIZE;
  s.atEnd = false;
  ::lseek(s.fd, static_cast<off_t>(cut), SEEK_SET);
}

// Moves the stream from `here` to `target` without scanning.
void skipTo(InputStream& s, std::size_t here, std::size_t target) {
  ASSERT_LE(here, target) << "the scan went past its token";
  while (here < target) {
    if (s.pos == s.end) fillStream(s, 1);
    ASSERT_LT(s.pos, s.end) << "the text ended early";
    const std::size_t step = std::min(target - here, s.end - s.pos);
    s.pos += step;
    here += step;
  }
}

TEST(ScannerDifferential, AMillionTokensReadAsTheCLibraryReadsThem) {
  constexpr std::uint64_t SEED = 20240611;
  constexpr std::size_t TOKENS = 1'000'000;
  std::printf("differential scan: seed %llu, %zu tokens\n", static_cast<unsigned long long>(SEED),
              TOKENS);
  const auto started = std::chrono::steady_clock::now();

  // Generated into one text read through one stream: token i's white space starts at
  // fieldStart[i], the token itself at tokenStart[i].
  TokenSource source(SEED);
  std::string text;
  std::vector<std::size_t> fieldStart, tokenStart;
  fieldStart.reserve(TOKENS + 1);
  tokenStart.reserve(TOKENS);
  for (std::size_t i = 0; i < TOKENS; ++i) {
    fieldStart.push_back(text.size());
    text += source.separator();
    tokenStart.push_back(text.size());
    text += source.token();
  }
  fieldStart.push_back(text.size());
  text += "\n";

  InputStream s;
  openText(s, text);
  std::size_t cuts = 0, shortStraddles = 0, longStraddles = 0, slowFields = 0;
  for (std::size_t i = 0; i < TOKENS; ++i) {
    const std::size_t from = fieldStart[i];
    const std::size_t tokenLength = fieldStart[i + 1] - tokenStart[i];
    // Some fields have the read end at a chosen byte of them or of the white space before: one
    // in four of the long ones, one in thirty-two of the others (each cut costs a full refill).
    // Cuts fall anywhere, or near the token's end or its exponent, where a long field decides
    // whether it goes on.
    if (source.below(tokenLength > 64 ? 4 : 32) == 0) {
      const std::size_t exponent = text.find_first_of("eE", tokenStart[i]);
      std::size_t cut = from + source.below(fieldStart[i + 1] - from + 2);
      const std::uint64_t where = source.below(10);
      if (where < 3) {
        cut = fieldStart[i + 1] + 1 - std::min<std::size_t>(source.below(6), tokenLength);
      } else if (where < 6 && exponent < fieldStart[i + 1]) {
        cut = exponent + source.below(4);
      }
      if (cut <= text.size() && cut - from <= STREAM_BUFFER_SIZE) {
        cutReadAt(s, text, from, cut);
        ++cuts;
      }
    }
    const bool real = source.below(10) < 6;
    // Which reading the field meets: the end of the buffered data within a short field (the
    // stream compacts and refills) or within a long one (the long-field path).
    const std::size_t bufferedEnd = from + (s.end - s.pos);
    const Reading want = expectedAt(text, from, real);
    if (!s.atEnd && want.ok && from + want.stop >= bufferedEnd) {
      if (bufferedEnd < tokenStart[i] + 64) {
        ++shortStraddles;
      } else {
        ++longStraddles;
      }
    }
    if (want.ok && want.stop - (tokenStart[i] - from) > 64) ++slowFields;

    std::size_t stop = 0;
    const std::string problem = compareScan(s, text, from, real, stop);
    if (!problem.empty()) {
      ADD_FAILURE() << "token " << i << " " << shown(text.substr(tokenStart[i], tokenLength))
                    << (real ? " as a real: " : " as an integer: ") << problem;
      break;  // the stream's position is no longer known
    }
    skipTo(s, stop, fieldStart[i + 1]);
  }
  closeStream(s);

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "differential scan: %zu bytes, %zu reads cut by hand, %zu short and %zu long fields across "
      "the end of the buffered data, %zu fields over 64 bytes, %.2f s\n",
      text.size(), cuts, shortStraddles, longStraddles, slowFields, seconds);
  // The test's own reach: both ways of meeting the buffer's end must have been exercised.
  EXPECT_GT(shortStraddles, 10000u);
  EXPECT_GT(longStraddles, 500u);
}

}  // namespace
