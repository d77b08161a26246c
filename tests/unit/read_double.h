// The read() double of programs linked with -Wl,--wrap=read.
#pragma once

#include <cstddef>

// Bytes at most per read() of the code under test; 0 leaves reads as they are.
extern std::size_t readLimit;
