// White space as the scanner skips it between fields: blank, tab, line feed, vertical tab, form
// feed and carriage return. Whatever else finds where a result file's fields and records end (a
// server following the file as a solver writes it) uses this one rule, byte by byte or eight bytes
// at a time.
#pragma once

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

constexpr bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The top bit of each byte of `word` that is white space, eight bytes at once: the low seven bits
// of each byte plus a constant carry into its top bit exactly when they reach a bound, and never
// into the next byte; a byte with its own top bit set is no white space.
constexpr std::uint64_t spaceBits(std::uint64_t word) {
  constexpr std::uint64_t ONES = 0x0101010101010101u, TOPS = ONES * 0x80, LOWS = ONES * 0x7f;
  const std::uint64_t low = word & LOWS;
  const auto atLeast = [low](std::uint64_t n) { return (low + ONES * (128 - n)) & TOPS; };
  const std::uint64_t control = atLeast('\t') & ~atLeast('\r' + 1);
  const std::uint64_t blank = atLeast(' ') & ~atLeast(' ' + 1);
  return (control | blank) & ~word & TOPS;
}

namespace white_space_detail {

// spaceBits says of every byte, in every position and whatever its neighbours, what isSpace says.
constexpr bool spaceBitsAgree() {
  const unsigned neighbours[] = {0x00, 0x09, 0x0d, 0x20, 0x21, 0x7f, 0x80, 0x89, 0xa0, 0xff};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned n : neighbours) {
      for (unsigned at = 0; at < 8; ++at) {
        std::uint64_t word = 0;
        for (unsigned k = 0; k < 8; ++k) word |= std::uint64_t{k == at ? b : n} << (8 * k);
        const std::uint64_t bits = spaceBits(word);
        for (unsigned k = 0; k < 8; ++k) {
          const unsigned byte = k == at ? b : n;
          const bool said = (bits >> (8 * k + 7) & 1) != 0;
          if (said != isSpace(static_cast<char>(byte))) return false;
        }
      }
    }
  }
  return true;
}
static_assert(spaceBitsAgree(), "spaceBits and isSpace must name the same bytes");

}  // namespace white_space_detail

// Bit k set where byte k of the 64 at `p` is white space: the eight-bytes-at-once rule over a
// block, or where the machine compares sixteen bytes at once, the same rule in its instructions
// (a test holds the two to every byte in every place).
inline std::uint64_t spaceMask64(const char* p) {
#ifdef __SSE2__
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i control = _mm_sub_epi8(bytes, _mm_set1_epi8('\t'));  // '\t' ... '\r': 0 ... 4
    const __m128i isControl = _mm_cmpeq_epi8(_mm_min_epu8(control, _mm_set1_epi8(4)), control);
    const __m128i isBlank = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(isControl, isBlank)));
    mask |= std::uint64_t{bits} << (16 * k);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    std::uint64_t word;
    std::memcpy(&word, p + 8 * k, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    // The top bit of each byte gathered into the low eight bits, byte 0 lowest.
    mask |= (((spaceBits(word) >> 7) * 0x0102040810204080u) >> 56) << (8 * k);
  }
  return mask;
#endif
}
