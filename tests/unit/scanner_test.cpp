// The number scanner: what a scan gives and, as much, where it leaves the stream. The fuzz targets'
// corpus test compares every reading with a reference reading, reads cut at every byte included;
// these cases pin the contract's edges, and numbers longer than the whole buffer, which no fuzz
// input is long enough to hold.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "model/scanner.h"
#include "model/white_space.h"
#include "scratch.h"

namespace {

constexpr double SENTINEL = 4242.5;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INT_MAX32 = std::numeric_limits<std::int32_t>::max();
constexpr double INT_MIN32 = std::numeric_limits<std::int32_t>::min();

struct Scan {
  bool ok;
  double value;      // an integer scan's value, as a double
  std::size_t stop;  // bytes of the text consumed, white space included
};

// Offset of the next byte a scan would read: the descriptor's offset is the end of what has been
// read, of which end - pos bytes are still unread in the buffer.
std::size_t offsetOf(const InputStream& s) {
  return static_cast<std::size_t>(::lseek(s.fd, 0, SEEK_CUR)) - (s.end - s.pos);
}

// One scan of the start of `text`, then a second one if the first failed, which must fail at the
// same place without changing the value: malformed text behaves as the end of the data.
Scan scanOne(const std::string& text, bool real) {
  const ScratchDirectory dir;
  dir.write("text", text);
  InputStream s;
  openStream(s, "text");
  double value = SENTINEL;
  std::int32_t integer = 42;
  bool ok = real ? scanReal(s, value) : scanInt(s, integer);
  if (!real && ok) value = integer;
  const Scan first{ok, value, offsetOf(s)};
  if (!ok) {
    ok = real ? scanReal(s, value) : scanInt(s, integer);
    EXPECT_TRUE(!ok && integer == 42 && value == SENTINEL && offsetOf(s) == first.stop);
  }
  return first;
}

bool same(double a, double b) {
  return std::isnan(a) ? std::isnan(b) && std::signbit(a) == std::signbit(b)
                       : std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Scanner, ReadsTheLongestPrefixOfItsKindAndLeavesTheRest) {
  const struct {
    const char* text;
    bool real, ok;
    double value;
    std::size_t stop;
  } rows[] = {
      // clang-format off
      {" \t\n\r\v\f12 ", false, true, 12, 8}, {"+7x", false, true, 7, 2}, {"-0", false, true, 0, 2},
      {"1.5", false, true, 1, 1}, {"2147483648", false, true, INT_MAX32, 10},
      {"-99999999999", false, true, INT_MIN32, 12}, {"+-1", false, false, SENTINEL, 0},
      {"  .5", false, false, SENTINEL, 2}, {"- 1", false, false, SENTINEL, 0},
      {"inf", false, false, SENTINEL, 0}, {"-1.234567e-03\n", true, true, -1.234567e-03, 13},
      {"+.5", true, true, 0.5, 3}, {"1.", true, true, 1.0, 2}, {"7e", true, true, 7.0, 1},
      {"7e+", true, true, 7.0, 1}, {"7e+5x", true, true, 7e5, 4}, {"7E-2", true, true, 0.07, 4},
      {"1e400", true, true, INF, 5}, {"-1e400", true, true, -INF, 6},
      {"4.9e-324", true, true, 4.9e-324, 8}, {"1e-400", true, true, 0.0, 6},
      {"0x10", true, true, 0.0, 1}, {"-InFiNiTy", true, true, -INF, 9},
      {"infinit", true, true, INF, 3}, {"+inf", true, true, INF, 4}, {"nan(1)", true, true, NaN, 3},
      {"-NaN", true, true, -NaN, 4}, {"+-1", true, false, SENTINEL, 0},
      {".", true, false, SENTINEL, 0}, {"-.e5", true, false, SENTINEL, 0},
      {"e5", true, false, SENTINEL, 0}, {"in", true, false, SENTINEL, 0},
      {" +", true, false, SENTINEL, 1}, {"", true, false, SENTINEL, 0},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.real ? "real " : "integer ") + "'" + row.text + "'");
    const Scan got = scanOne(row.text, row.real);
    EXPECT_EQ(got.ok, row.ok);
    EXPECT_TRUE(same(got.value, row.value)) << got.value;
    EXPECT_EQ(got.stop, row.stop);
  }
}

TEST(Scanner, NumbersAndWhiteSpaceLongerThanTheBufferReadAsTheCLibraryReadsThem) {
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
      {"1" + std::string(n, '0'), true},
      {std::string(n, '0') + "17x", false},
      {"-" + std::string(n, '7'), false},
      {"+" + std::string(n, 'x'), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20) + (c.real ? " as a real" : " as an integer"));
    const std::string text = c.text + " 8";
    char* end = nullptr;
    double expected = SENTINEL;
    if (c.real) {
      expected = std::strtod(text.c_str(), &end);
    } else {
      const double v = static_cast<double>(std::strtoll(text.c_str(), &end, 10));
      expected = v < INT_MIN32 ? INT_MIN32 : v > INT_MAX32 ? INT_MAX32 : v;
    }
    const bool ok = end != text.c_str();
    const Scan got = scanOne(text, c.real);
    EXPECT_EQ(got.ok, ok);
    EXPECT_TRUE(same(got.value, ok ? expected : SENTINEL)) << got.value;
    EXPECT_EQ(got.stop, ok ? static_cast<std::size_t>(end - text.c_str()) : 0u);
  }
}

}  // namespace

// The follower of a growing result file finds where its fields end with the scanner's rule, 64
// bytes at a time: that form must name the very bytes the scanner skips, wherever they stand.
TEST(WhiteSpace, TheRuleSixtyFourBytesAtATimeNamesWhatTheScannerSkips) {
  for (int b = 0; b < 256; ++b) {
    for (char other : {'7', ' ', '\xa0'}) {
      for (int at = 0; at < 64; ++at) {
        char block[64];
        std::memset(block, other, sizeof block);
        block[at] = static_cast<char>(b);
        const std::uint64_t mask = spaceMask64(block);
        for (int k = 0; k < 64; ++k) {
          ASSERT_EQ((mask >> k & 1) != 0, isSpace(block[k]))
              << "byte " << b << " at " << at << " among " << int{other} << ", bit " << k;
        }
      }
    }
  }
}
