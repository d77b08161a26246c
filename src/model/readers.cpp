// The node, element and result readers.
#include "model/readers.h"

#include "model/scanner.h"

bool readResultRecord(InputStream& s, ResultRecord& record) {
  double t = 0.0;
  if (!scanReal(s, t)) return false;
  record.header[0] = t;
  bool reading = true;
  auto next = [&](double& value) {
    if (reading && scanReal(s, value)) return;
    reading = false;
    value = 0.0;
  };
  for (int i = 1; i < HEADER_VALUES; ++i) next(record.header[i]);
  for (auto& pair : record.vectors) {
    next(pair[0]);
    next(pair[1]);
  }
  for (auto& pair : record.base) {
    next(pair[0]);
    next(pair[1]);
  }
  return true;
}

int readNodeBlock(InputStream& s, NodeTable& table) {
  int complete = 0;
  for (NodePosition& node : table) {
    std::int32_t number = 0;
    if (!scanInt(s, number) || !scanReal(s, node.x) || !scanReal(s, node.y)) break;
    ++complete;
  }
  return complete;
}

int readElementBlock(InputStream& s, ElementTable& table) {
  int complete = 0;
  for (Element& element : table) {
    std::int32_t number = 0;
    if (!scanInt(s, number) || !scanInt(s, element.nodes[0]) || !scanInt(s, element.nodes[1]) ||
        !scanInt(s, element.nodes[2])) {
      break;
    }
    ++complete;
  }
  return complete;
}
