// The entries of the node and element tables, and the rule of which triangles are drawn, apart
// from any profile: what the tables of every size are made of.
#pragma once

#include <cstddef>
#include <cstdint>

// Rest position of a node, model length units.
struct NodePosition {
  double x = 0.0;
  double y = 0.0;
};

// A triangle: node indices counted from 0, in drawing order. The file may hold any value here.
struct Element {
  std::int32_t nodes[3] = {0, 0, 0};
};

// A triangle is drawn, and exported, only if all three of its indices name a node of the table:
// any other index names no node, so the triangle is skipped rather than drawn from outside it.
inline bool isDrawn(const Element& element, std::size_t nodeCount) {
  for (std::int32_t node : element.nodes) {
    if (node < 0 || static_cast<std::size_t>(node) >= nodeCount) return false;
  }
  return true;
}

// A mesh of any size, as the writers of other formats take it: a node table and a triangle table.
struct MeshView {
  const NodePosition* nodes = nullptr;
  std::size_t nodeCount = 0;
  const Element* elements = nullptr;
  std::size_t elementCount = 0;
};
