// White space as the scanner skips it between fields: blank, tab, line feed, vertical tab, form
// feed and carriage return. Whatever else finds where a result file's fields and records end (a
// server following the file as a solver writes it) uses this one rule, byte by byte or 64 bytes at
// a time.
#pragma once

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

constexpr bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Bit k set where byte k of the 64 at `p` is white space: where the machine compares sixteen
// bytes at once, the rule in its instructions (a test holds it to isSpace for every byte in every
// place); elsewhere isSpace itself, byte by byte.
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
  for (int k = 0; k < 64; ++k) mask |= std::uint64_t{isSpace(p[k])} << k;
  return mask;
#endif
}
