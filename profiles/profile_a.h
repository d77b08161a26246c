// Profile A: the 10 x 6 grid replayed by meshplay-a.
#pragma once

inline constexpr int NX = 10;
inline constexpr int NY = 6;
inline constexpr double DX = 0.005;
inline constexpr double DY = 0.005;
inline constexpr int NODE_COUNT = 77;
inline constexpr int ELEMENT_COUNT = 120;
inline constexpr int HEADER_VALUES = 1;
inline constexpr int VECTOR_PAIRS = 308;
inline constexpr int BASE_PAIRS = 11;
inline constexpr int T_END = 15;
inline constexpr double SCALE_INIT = 0.03;
inline constexpr double SCALE_STEP = 0.0025;
