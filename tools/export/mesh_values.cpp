// Counting the triangles an export writes.
#include "mesh_values.h"

int drawnCount(const ElementTable& table) {
  int count = 0;
  for (const Element& element : table) count += isDrawn(element) ? 1 : 0;
  return count;
}
