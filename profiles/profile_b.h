// Profile B: the 30 x 12 grid replayed by meshplay-b.
#pragma once

inline constexpr int NX = 30;
inline constexpr int NY = 12;
inline constexpr double DX = 0.0025;
inline constexpr double DY = 0.0025;
inline constexpr int NODE_COUNT = 403;
inline constexpr int ELEMENT_COUNT = 720;
inline constexpr int HEADER_VALUES = 2;
inline constexpr int VECTOR_PAIRS = 1612;
inline constexpr int BASE_PAIRS = 31;
inline constexpr int T_END = 10;
inline constexpr double SCALE_INIT = 0.03;
inline constexpr double SCALE_STEP = 0.0025;
