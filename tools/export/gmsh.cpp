// The Gmsh export in MSH 2.2 ASCII, written section by section: each section's text is built in
// one reused buffer, numbers by std::to_chars in their shortest exact form, and written at once.
#include "export/gmsh.h"

#include "common/output_path.h"

namespace companion {

namespace {

constexpr long MSH_TRIANGLE = 2;

// Node i of the tables is node i + 1 in the file: MSH numbers nodes from 1.
void appendNodes(std::string& out, const MeshView& mesh, long& replaced) {
  out += "$Nodes\n";
  appendNumber(out, static_cast<long>(mesh.nodeCount));
  out += '\n';
  for (std::size_t i = 0; i < mesh.nodeCount; ++i) {
    appendNodeLine(out, static_cast<long>(i) + 1, finiteOrZero(mesh.nodes[i].x, replaced),
                   finiteOrZero(mesh.nodes[i].y, replaced));
  }
  out += "$EndNodes\n";
}

// Each triangle carries the two usual tags: no physical group (0), elementary entity 1.
void appendElements(std::string& out, const MeshView& mesh) {
  out += "$Elements\n";
  appendNumber(out, static_cast<long>(drawnCount(mesh)));
  out += '\n';
  long number = 0;
  for (std::size_t e = 0; e < mesh.elementCount; ++e) {
    const Element& element = mesh.elements[e];
    if (!isDrawn(element, mesh.nodeCount)) continue;
    appendNumber(out, ++number);
    out += ' ';
    appendNumber(out, MSH_TRIANGLE);
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
void appendNodeData(std::string& out, const StepData& step, long number, long& replaced) {
  out += "$NodeData\n1\n\"displacement\"\n1\n";
  appendNumber(out, finiteOrZero(step.time, replaced));
  out += "\n3\n";
  appendNumber(out, number);
  out += "\n3\n";
  appendNumber(out, static_cast<long>(step.mesh.nodeCount));
  out += '\n';
  for (std::size_t i = 0; i < step.mesh.nodeCount; ++i) {
    appendNodeLine(out, static_cast<long>(i) + 1, finiteOrZero(step.displacements[i][0], replaced),
                   finiteOrZero(step.displacements[i][1], replaced));
  }
  out += "$EndNodeData\n";
}

}  // namespace

GmshWriter::GmshWriter(const std::string& path)
    : temporary_(refuseFolder(path), TemporaryOutput::Kind::File), file_(temporary_.path(), path) {}

void GmshWriter::add(const StepData& step) {
  const MeshView& mesh = step.mesh;
  block_.clear();
  if (steps_ == 0) {
    firstMesh_.keep(mesh);
    block_ += "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n";
    appendNodes(block_, mesh, replaced_);
    appendElements(block_, mesh);
  } else if (!firstMesh_.matches(mesh)) {
    meshChanged_ = true;
  }
  appendNodeData(block_, step, steps_, replaced_);
  file_.write(block_);
  ++steps_;
}

void GmshWriter::finish() {
  file_.close();
  temporary_.commit();
}

}  // namespace companion
