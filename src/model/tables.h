// The model's tables and the in-memory form of one result record, sized by the profile.
#pragma once

#include <array>
#include <cstdint>

#include "model/profile.h"

// Rest position of a node, model length units.
struct NodePosition {
  double x = 0.0;
  double y = 0.0;
};
using NodeTable = std::array<NodePosition, NODE_COUNT>;

// A triangle: node indices counted from 0, in drawing order. The file may hold any value here;
// drawing skips a triangle with an index outside the node table.
struct Element {
  std::int32_t nodes[3] = {0, 0, 0};
};
using ElementTable = std::array<Element, ELEMENT_COUNT>;

// One time step of the result file, in file order.
struct ResultRecord {
  double header[HEADER_VALUES] = {};     // header[0] is the time t in seconds; the rest is ignored
  double vectors[VECTOR_PAIRS][2] = {};  // pair i < NODE_COUNT: displacement (dx, dy) of node i
  double base[BASE_PAIRS][2] = {};       // the base row's motion; read and ignored

  double time() const { return header[0]; }
};
