// The Gmsh export in MSH 2.2 ASCII, written section by section: each section's text is built in
// one reused buffer, numbers by std::to_chars in their shortest exact form, and written at once.
#include "gmsh.h"

#include <cstring>

#include "companion.h"
#include "mesh_values.h"

namespace {

constexpr int MSH_TRIANGLE = 2;

// Node i of the tables is node i + 1 in the file: MSH numbers nodes from 1.
void appendNodes(std::string& out, const NodeTable& nodes, long& replaced) {
  out += "$Nodes\n";
  appendNumber(out, static_cast<long>(NODE_COUNT));
  out += '\n';
  for (int i = 0; i < NODE_COUNT; ++i) {
    const NodePosition& node = nodes[static_cast<std::size_t>(i)];
    appendNodeLine(out, static_cast<long>(i) + 1, finiteOrZero(node.x, replaced),
                   finiteOrZero(node.y, replaced));
  }
  out += "$EndNodes\n";
}

// Each triangle carries the two usual tags: no physical group (0), elementary entity 1.
void appendElements(std::string& out, const ElementTable& elements) {
  out += "$Elements\n";
  appendNumber(out, static_cast<long>(drawnCount(elements)));
  out += '\n';
  long number = 0;
  for (const Element& element : elements) {
    if (!isDrawn(element)) continue;
    appendNumber(out, ++number);
    out += ' ';
    appendNumber(out, static_cast<long>(MSH_TRIANGLE));
    out += " 2 0 1";
    for (std::int32_t node : element.nodes) {
      out += ' ';
      appendNumber(out, static_cast<long>(node) + 1);
    }
    out += '\n';
  }
  out += "$EndElements\n";
}

// One step: the view's name, the time, then the step number, 3 components and the node count.
void appendNodeData(std::string& out, const StepData& data, long step, long& replaced) {
  out += "$NodeData\n1\n\"displacement\"\n1\n";
  appendNumber(out, finiteOrZero(data.time, replaced));
  out += "\n3\n";
  appendNumber(out, step);
  out += "\n3\n";
  appendNumber(out, static_cast<long>(NODE_COUNT));
  out += '\n';
  for (int i = 0; i < NODE_COUNT; ++i) {
    appendNodeLine(out, static_cast<long>(i) + 1, finiteOrZero(data.vectors[i][0], replaced),
                   finiteOrZero(data.vectors[i][1], replaced));
  }
  out += "$EndNodeData\n";
}

}  // namespace

void beginGmsh(GmshOutput& out, const std::string& path) {
  out.path = path;
  out.temporary = companion::temporaryPath(path);
  openOutput(out.file, out.temporary, path);
  failOnError(out.file);
}

std::string addGmshStep(GmshOutput& out, const StepData& step) {
  out.block.clear();
  if (out.steps == 0) {
    out.nodes = step.nodes;
    out.elements = step.elements;
    out.block += "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n";
    appendNodes(out.block, step.nodes, out.replaced);
    appendElements(out.block, step.elements);
  } else if (std::memcmp(&out.nodes, &step.nodes, sizeof step.nodes) != 0 ||
             std::memcmp(&out.elements, &step.elements, sizeof step.elements) != 0) {
    out.meshChanged = true;
  }
  appendNodeData(out.block, step, out.steps, out.replaced);
  writeOutput(out.file, out.block);
  ++out.steps;
  return out.file.error;
}

void finishGmsh(GmshOutput& out) {
  closeOutput(out.file);
  failOnError(out.file);
  companion::commit(out.temporary, out.path);
}
