// What both formats write of one time step: the triangles the viewer draws, and numbers that
// every reader accepts. Nothing here depends on the profile: the writers take meshes of any size.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "model/mesh.h"

namespace companion {

// One time step as the viewer holds it: the record's time and displacements, and the tables.
struct StepData {
  double time = 0.0;
  const double (*displacements)[2] = nullptr;  // [i]: the displacement (dx, dy) of node i
  MeshView mesh;
};

// A copy of a step's tables, to tell whether a later step's are the same: a node or element file
// of several blocks changes them during a run, which each writer notices to write the new mesh or
// to report that it keeps the first.
class KeptMesh {
 public:
  // Whether `mesh` holds what was kept, byte for byte; false while nothing is kept.
  bool matches(const MeshView& mesh) const {
    return kept_ && nodes_.size() == mesh.nodeCount && elements_.size() == mesh.elementCount &&
           sameBytes(nodes_.data(), mesh.nodes, mesh.nodeCount * sizeof(NodePosition)) &&
           sameBytes(elements_.data(), mesh.elements, mesh.elementCount * sizeof(Element));
  }
  void keep(const MeshView& mesh) {
    nodes_.assign(mesh.nodes, mesh.nodes + mesh.nodeCount);
    elements_.assign(mesh.elements, mesh.elements + mesh.elementCount);
    kept_ = true;
  }
  const std::vector<NodePosition>& nodes() const { return nodes_; }
  const std::vector<Element>& elements() const { return elements_; }

 private:
  // An empty table may have no storage at all, which memcmp must not be given.
  static bool sameBytes(const void* a, const void* b, std::size_t size) {
    return size == 0 || std::memcmp(a, b, size) == 0;
  }

  bool kept_ = false;
  std::vector<NodePosition> nodes_;
  std::vector<Element> elements_;
};

// The triangles of the mesh that the viewer draws: the others name no node, and are left out.
inline std::size_t drawnCount(const MeshView& mesh) {
  std::size_t count = 0;
  for (std::size_t e = 0; e < mesh.elementCount; ++e) {
    count += isDrawn(mesh.elements[e], mesh.nodeCount) ? 1 : 0;
  }
  return count;
}

// A value that is not a finite number places no node and moves none, and readers differ on it (a
// NaN point spoils ParaView's bounds, text readers stop at "nan"): both formats write it as 0 and
// count it, and the count is reported once at the end.
inline double finiteOrZero(double v, long& replaced) {
  if (std::isfinite(v)) return v;
  ++replaced;
  return 0.0;
}

// The longest texts of the numbers written: a double in its shortest exact form, such as
// "-2.2250738585072014e-308", and a 64-bit integer with its sign.
inline constexpr int DOUBLE_CHARS = 24;
inline constexpr int LONG_CHARS = 20;

// Appends "number x y 0\n", a node's number and a 2D vector with z = 0, as one line: the line
// most written, built in place rather than piece by piece.
inline void appendNodeLine(std::string& out, long number, double x, double y) {
  char line[LONG_CHARS + 2 * DOUBLE_CHARS + 8];
  char* const end = line + sizeof line;
  char* p = std::to_chars(line, end, number).ptr;
  *p++ = ' ';
  p = std::to_chars(p, end, x).ptr;
  *p++ = ' ';
  p = std::to_chars(p, end, y).ptr;
  *p++ = ' ';
  *p++ = '0';
  *p++ = '\n';
  out.append(line, p);
}

// Appends the shortest text that reads back as exactly `v` ("0.0025", "1e-05", "-3").
inline void appendNumber(std::string& out, double v) {
  char text[DOUBLE_CHARS + 8];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}
inline void appendNumber(std::string& out, long v) {
  char text[LONG_CHARS + 4];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

}  // namespace companion
