// The model profile this program is built for, and the drawing constants derived from it.
//
// Every count, offset and the end time are fixed at build time: the build names one header of
// profiles/ in MESHPLAY_PROFILE, and objects built for different profiles never meet in one binary.
#pragma once

#ifndef MESHPLAY_PROFILE
#error "MESHPLAY_PROFILE must name a header in profiles/, e.g. -DMESHPLAY_PROFILE=\"profile_a.h\""
#endif
#include MESHPLAY_PROFILE

// Model length units, before division by viewScale. The depths are used negated: these items lie
// below the model's centre line.
inline constexpr double HW = NX * DX / 2.0;  // grid half-width
inline constexpr double HH = NY * DY / 2.0;  // grid half-height

// The ends of the base line and of the progress frame, and the depths of the label and of the
// progress bar, follow the cell size. That suits grids whose cells are several pixels wide; below
// the grid of a finer one they would run into the mesh and shrink to nothing. Such a profile sets
// them in its header, as expressions in HW, HH and model length units:
//   #define PROFILE_FRAME_HALF_WIDTH (HW + 0.0025)
//   #define PROFILE_LABEL_DEPTH (HH + 0.00375)
//   #define PROFILE_BAR_TOP_DEPTH (HH + 0.005)
//   #define PROFILE_BAR_BOTTOM_DEPTH (HH + 0.0075)
#ifdef PROFILE_FRAME_HALF_WIDTH
inline constexpr double FW = PROFILE_FRAME_HALF_WIDTH;
#else
inline constexpr double FW = HW + DX;  // frame half-width
#endif
#ifdef PROFILE_LABEL_DEPTH
inline constexpr double YLABEL = PROFILE_LABEL_DEPTH;
#else
inline constexpr double YLABEL = HH + 1.5 * DY;  // label depth
#endif
#ifdef PROFILE_BAR_TOP_DEPTH
inline constexpr double YTOP = PROFILE_BAR_TOP_DEPTH;
#else
inline constexpr double YTOP = HH + 2.0 * DY;  // progress bar top depth
#endif
#ifdef PROFILE_BAR_BOTTOM_DEPTH
inline constexpr double YBOT = PROFILE_BAR_BOTTOM_DEPTH;
#else
inline constexpr double YBOT = HH + 3.0 * DY;  // progress bar bottom depth
#endif
inline constexpr double THALF = T_END / 2.0;  // real division: 7.5 for an end time of 15

// Numbers in one result record: the header, then the vector block and the base block as pairs.
inline constexpr int RECORD_VALUES = HEADER_VALUES + 2 * VECTOR_PAIRS + 2 * BASE_PAIRS;

static_assert(NX > 0 && NY > 0, "the grid needs at least one cell");
static_assert(NODE_COUNT == (NX + 1) * (NY + 1), "one node per grid point");
static_assert(ELEMENT_COUNT == 2 * NX * NY, "two triangles per grid cell");
static_assert(VECTOR_PAIRS == 4 * NODE_COUNT, "four vectors per node in a result record");
static_assert(BASE_PAIRS == NX + 1, "one base pair per node of the bottom row");
static_assert(HEADER_VALUES >= 1, "the first header value is the time");
static_assert(T_END > 0, "a run ends at a positive time");
static_assert(SCALE_INIT > 0.0 && SCALE_STEP > 0.0, "the view scale divides every coordinate");
static_assert(FW > 0.0 && YLABEL > 0.0 && YTOP < YBOT, "the progress bar has a height");
