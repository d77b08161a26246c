// Demo data for the viewer: a block on a shaking base, computed for the profile this is built with.
//
// The files are laid out exactly as the viewer reads them (model/readers.h), so that a newcomer can
// watch a plausible run without a simulation of their own. The motion is a dynamic response, not a
// pattern: the base row is shaken horizontally by a decaying sine burst and the block above it
// answers in its first shear mode, integrated in time, with a little rocking.
#pragma once

#include <string>

#include "model/profile.h"

namespace companion::demo {

// One record every 0.01 s from 0 up to and including T_END: the record at T_END is the only one
// whose time lies in [T_END, T_END + 1), and it ends the run.
inline constexpr int RECORDS_PER_SECOND = 100;
inline constexpr int RECORD_COUNT = T_END * RECORDS_PER_SECOND + 1;

// Time of record k, in seconds: k / 100 computed as one correctly rounded division, so that the
// last one is exactly T_END rather than a sum of rounded steps.
inline double recordTime(int k) {
  return k / static_cast<double>(RECORDS_PER_SECOND);
}

// Rest position of node i: row-major from the bottom-left corner, NX + 1 nodes per row.
inline double restX(int i) {
  return (i % (NX + 1)) * DX;
}
inline double restY(int i) {
  return (i / (NX + 1)) * DY;
}

// Base shaking, horizontal only: u(t) = A (t / TP) e^(1 - t / TP) sin(2 pi F t). It starts at rest
// (zero displacement and velocity), peaks near TP and has nearly died out by the end of the run.
inline constexpr double BASE_AMPLITUDE = 1.2e-3;  // metres
inline constexpr double BASE_FREQUENCY = 1.25;    // hertz
inline constexpr double BASE_PEAK_TIME = 2.0;     // seconds

// The block's first shear mode: frequency and damping ratio. The frequency is kept off the base's
// so that the response is a mix of forced and free sway, as in a real shaking-table record.
inline constexpr double MODE_FREQUENCY = 1.6;  // hertz
inline constexpr double MODE_DAMPING = 0.05;
// Vertical motion from rocking, as a fraction of the sway at the same height per unit of the
// node's horizontal distance from the centre over the block's height.
inline constexpr double ROCKING = 0.3;

struct Kinematics {
  double displacement = 0.0;
  double velocity = 0.0;
  double acceleration = 0.0;
};

// Horizontal motion of the base row at time t.
Kinematics baseMotion(double t);

// One time step of the whole model, in the order of a result record:
// - header: the time, then (profiles with two or more header values) the base acceleration, the
//   base velocity and the base displacement; any further header values are zero;
// - for every node, four (x, y) vectors in four blocks of NODE_COUNT pairs: the displacement, the
//   velocity and the acceleration, all absolute (relative to the ground at rest), then the
//   displacement relative to the base, which is the block's own deformation;
// - for every node of the base row, its displacement (the base moves as one, horizontally).
struct Step {
  double time = 0.0;
  Kinematics base;
  Kinematics mode;  // the first mode's coordinate: the sway of the top relative to the base
};

// Integrates the block's response record by record, with substeps fine enough that the result is
// the exact response to plotting accuracy.
class Response {
 public:
  Response();
  // The step at record k; calls must go k = 0, 1, 2, ... in order.
  Step record(int k);

 private:
  void advance();  // one substep
  long substep_ = 0;
  Kinematics q_;
};

// Displacement (dx, dy) of node i for the given base and mode state, or its velocity or
// acceleration when given the matching derivatives.
void nodeVector(int i, double base, double mode, double& x, double& y);

// Writes the rest grid's "geodata.dat" and "tridata.dat" into `folder`, which must exist: the one
// writer of the grid for every program, test and benchmark that needs its files. Throws Failure
// (common/failure.h) naming the file that could not be written, and why.
void writeGrid(const std::string& folder);

// Writes "geodata.dat", "tridata.dat" and "result.dat" into `folder`, which must exist. Throws as
// writeGrid does.
void writeDemoData(const std::string& folder);

}  // namespace companion::demo
