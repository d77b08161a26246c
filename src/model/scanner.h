// Formatted scanning of one integer ("%d") or one real ("%lf") from an InputStream.
//
// What a scan does, for both kinds of field:
// - White space (blank, tab, line feed, carriage return, vertical tab, form feed) before the field
//   is skipped; line breaks carry no meaning.
// - The field's text is the longest prefix that forms a number of its kind. On success that text is
//   consumed, the value stored in `out`, and the scan returns true; the first character after it is
//   left for the next scan ("1.5" scanned as an integer gives 1 and leaves ".5").
// - A field that cannot start a number fails: nothing of it is consumed, `out` keeps its value and
//   the scan returns false. The next scan starts at the same place and fails the same way, so
//   malformed text behaves like the end of the data. An exhausted or absent stream fails likewise.
// - Nothing is allocated and no C library conversion is called; the stream's buffer is refilled as
//   needed, and a field that straddles two reads gives the same value as any other.
#pragma once

#include <cstdint>

#include "model/input_stream.h"

// Integer: optional sign, then decimal digits. A value beyond 32 bits saturates to the nearest
// bound (INT32_MIN or INT32_MAX); all its digits are still consumed.
bool scanInt(InputStream& s, std::int32_t& out);

// Real: optional sign, digits with an optional fraction (at least one digit in all), then an
// optional exponent ("e" or "E", optional sign, digits), converted to the nearest double exactly as
// strtod does; beyond the range of double it gives plus or minus infinity, below it zero or a
// denormal. Hexadecimal reals are not read ("0x10" gives 0 and leaves "x10"). The words "inf",
// "infinity" and "nan", in any case and with an optional sign, are read as strtod reads them;
// "nan(...)" is read as "nan" and leaves "(...)".
bool scanReal(InputStream& s, double& out);
