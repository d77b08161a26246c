// The demo model's motion and the writers of its three files.
#include "demodata/demo_data.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/failure.h"

namespace companion::demo {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double HEIGHT = NY * DY;
constexpr double CENTRE_X = NX * DX / 2.0;

// The mode shape of a shear block fixed at its base, sin(pi y / 2H), and how strongly the base's
// acceleration drives that mode for a block of uniform mass: the integral of the shape over the
// height divided by the integral of its square, 4 / pi.
constexpr double PARTICIPATION = 4.0 / PI;
inline double modeShape(double y) {
  return std::sin(PI * y / (2.0 * HEIGHT));
}

// 20 substeps per record: with the average-acceleration scheme the period error is then far below
// the six digits that are written.
constexpr int SUBSTEPS = 20;
constexpr double SUBSTEP = 1.0 / (RECORDS_PER_SECOND * SUBSTEPS);

// Reals are written as a simulation writes them, "%.6e": seven significant digits, a nanometre
// at the scale of these displacements. Adding zero turns a negative zero into a plain one, so that
// no "-0.000000e+00" appears.
inline double clean(double v) {
  return v + 0.0;
}

// Closes the file on every path; a failed close (a full disk shows up there) is a failed write.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

Kinematics baseMotion(double t) {
  // u = A g(t) sin(w t) with the envelope g = (t / TP) e^(1 - t / TP) and its derivatives.
  const double w = 2.0 * PI * BASE_FREQUENCY;
  const double decay = std::exp(1.0 - t / BASE_PEAK_TIME);
  const double g = t / BASE_PEAK_TIME * decay;
  const double g1 = (1.0 - t / BASE_PEAK_TIME) * decay / BASE_PEAK_TIME;
  const double g2 = (t / BASE_PEAK_TIME - 2.0) * decay / (BASE_PEAK_TIME * BASE_PEAK_TIME);
  const double s = std::sin(w * t);
  const double c = std::cos(w * t);
  Kinematics k;
  k.displacement = BASE_AMPLITUDE * g * s;
  k.velocity = BASE_AMPLITUDE * (g1 * s + g * w * c);
  k.acceleration = BASE_AMPLITUDE * (g2 * s + 2.0 * g1 * w * c - g * w * w * s);
  return k;
}

Response::Response() {
  // At rest, so the initial acceleration is the base's push alone.
  q_.acceleration = -PARTICIPATION * baseMotion(0.0).acceleration;
}

void Response::advance() {
  // Newmark's average-acceleration scheme (gamma 1/2, beta 1/4) for
  // q'' + 2 zeta w q' + w^2 q = -PARTICIPATION a_base(t): unconditionally stable, no numerical
  // damping, the usual choice for a structural time history.
  const double w = 2.0 * PI * MODE_FREQUENCY;
  const double c = 2.0 * MODE_DAMPING * w;
  const double k = w * w;
  const double h = SUBSTEP;
  ++substep_;
  const double t = static_cast<double>(substep_) * SUBSTEP;
  const double load = -PARTICIPATION * baseMotion(t).acceleration;
  const double stiffness = k + 2.0 * c / h + 4.0 / (h * h);
  const double q = q_.displacement, v = q_.velocity, a = q_.acceleration;
  const double qNext =
      (load + (4.0 / (h * h)) * q + (4.0 / h) * v + a + c * ((2.0 / h) * q + v)) / stiffness;
  const double aNext = (4.0 / (h * h)) * (qNext - q) - (4.0 / h) * v - a;
  q_.velocity = v + h / 2.0 * (a + aNext);
  q_.displacement = qNext;
  q_.acceleration = aNext;
}

Step Response::record(int k) {
  const long target = static_cast<long>(k) * SUBSTEPS;
  while (substep_ < target) advance();
  Step step;
  step.time = recordTime(k);
  step.base = baseMotion(step.time);
  step.mode = q_;
  return step;
}

void nodeVector(int i, double base, double mode, double& x, double& y) {
  // The sway grows with height along the mode shape; the rocking lifts the side the block sways
  // away from and lowers the other, in proportion to the distance from the centre line.
  const double sway = modeShape(restY(i)) * mode;
  x = base + sway;
  y = -ROCKING * (restX(i) - CENTRE_X) / HEIGHT * sway;
}

namespace {

// The three files, written to open streams. Each returns false if a write failed.
bool writeNodes(std::FILE* f) {
  for (int i = 0; i < NODE_COUNT; ++i) {
    std::fprintf(f, "%d %.6e %.6e\n", i, clean(restX(i)), clean(restY(i)));
  }
  return std::ferror(f) == 0;
}

bool writeElements(std::FILE* f) {
  // Each grid cell, counter-clockwise from its bottom-left node, split along the diagonal from
  // that node to the top-right one.
  int e = 0;
  for (int row = 0; row < NY; ++row) {
    for (int column = 0; column < NX; ++column) {
      const int bottomLeft = row * (NX + 1) + column;
      const int bottomRight = bottomLeft + 1;
      const int topLeft = bottomLeft + NX + 1;
      const int topRight = topLeft + 1;
      std::fprintf(f, "%d %d %d %d\n", e++, bottomLeft, bottomRight, topRight);
      std::fprintf(f, "%d %d %d %d\n", e++, bottomLeft, topRight, topLeft);
    }
  }
  return std::ferror(f) == 0;
}

bool writeResults(std::FILE* f) {
  Response response;
  for (int k = 0; k < RECORD_COUNT; ++k) {
    const Step step = response.record(k);

    const double header[] = {step.time, step.base.acceleration, step.base.velocity,
                             step.base.displacement};
    for (int h = 0; h < HEADER_VALUES; ++h) {
      if (h > 0) std::fputc(' ', f);
      std::fprintf(f, "%.6e", h < 4 ? clean(header[h]) : 0.0);
    }
    std::fputc('\n', f);

    auto pair = [f](double x, double y) { std::fprintf(f, "%.6e %.6e\n", clean(x), clean(y)); };
    double x = 0.0, y = 0.0;
    for (int i = 0; i < NODE_COUNT; ++i) {
      nodeVector(i, step.base.displacement, step.mode.displacement, x, y);
      pair(x, y);
    }
    for (int i = 0; i < NODE_COUNT; ++i) {
      nodeVector(i, step.base.velocity, step.mode.velocity, x, y);
      pair(x, y);
    }
    for (int i = 0; i < NODE_COUNT; ++i) {
      nodeVector(i, step.base.acceleration, step.mode.acceleration, x, y);
      pair(x, y);
    }
    for (int i = 0; i < NODE_COUNT; ++i) {
      nodeVector(i, 0.0, step.mode.displacement, x, y);
      pair(x, y);
    }
    for (int j = 0; j < BASE_PAIRS; ++j) pair(step.base.displacement, 0.0);
    if (std::ferror(f) != 0) return false;
  }
  return true;
}

void writeFile(const std::string& folder, const char* name, bool (*write)(std::FILE*)) {
  const std::string path = folder + "/" + name;
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "w"));
  if (!f) throw systemFailure(path, errno);
  const bool written = write(f.get());
  if (!written || std::fclose(f.release()) != 0) {
    throw Failure(path + ": write failed: " + std::strerror(errno));
  }
}

}  // namespace

void writeGrid(const std::string& folder) {
  writeFile(folder, "geodata.dat", writeNodes);
  writeFile(folder, "tridata.dat", writeElements);
}

void writeDemoData(const std::string& folder) {
  writeGrid(folder);
  writeFile(folder, "result.dat", writeResults);
}

}  // namespace companion::demo
