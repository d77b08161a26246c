// The model's tables and the in-memory form of one result record, sized by the profile.
#pragma once

#include <array>

#include "model/mesh.h"
#include "model/profile.h"

using NodeTable = std::array<NodePosition, NODE_COUNT>;
using ElementTable = std::array<Element, ELEMENT_COUNT>;

// One time step of the result file, in file order.
struct ResultRecord {
  double header[HEADER_VALUES] = {};     // header[0] is the time t in seconds; the rest is ignored
  double vectors[VECTOR_PAIRS][2] = {};  // pair i < NODE_COUNT: displacement (dx, dy) of node i
  double base[BASE_PAIRS][2] = {};       // the base row's motion; read and ignored

  double time() const { return header[0]; }
};

// Whether the viewer draws this triangle of its tables.
inline bool isDrawn(const Element& element) {
  return isDrawn(element, NODE_COUNT);
}

inline MeshView meshOf(const NodeTable& nodes, const ElementTable& elements) {
  return {nodes.data(), nodes.size(), elements.data(), elements.size()};
}
