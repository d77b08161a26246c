// A second, deliberately plain reading of the number syntax of model/scanner.h, used by the fuzz
// targets as an oracle. It works on the whole text of a file held in memory, so it never meets a
// buffer boundary, and converts reals with the C library's strtod: a difference from the real
// scanner points at the scanner's buffering or at its own conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct ReferenceText {
  std::string_view text;
  std::size_t pos = 0;
  bool present = false;  // a file that could not be opened: every scan fails
};

bool referenceInt(ReferenceText& r, std::int32_t& out);
bool referenceReal(ReferenceText& r, double& out);
