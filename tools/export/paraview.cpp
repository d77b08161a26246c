// The ParaView export: a .pvd collection and one .vtu file per time step, in VTK's XML format
// with the arrays appended raw (binary), which is small and quick to write and to read.
#include "paraview.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "companion.h"
#include "mesh_values.h"

namespace {

namespace fs = std::filesystem;

// Raw arrays are in the machine's own byte order, which the files declare.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* RAW_BYTE_ORDER = "BigEndian";
#else
constexpr const char* RAW_BYTE_ORDER = "LittleEndian";
#endif

constexpr std::uint8_t VTK_TRIANGLE = 5;

// Every appended array starts with its size in bytes, a UInt64 as header_type declares.
using BlockSize = std::uint64_t;

template <class T>
void appendRaw(std::string& out, T value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.append(bytes, sizeof value);
}

std::string xmlAttribute(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// "NAME_000042.vtu": six digits keep a run of up to a million steps in order when listed.
std::string vtuName(const std::string& folderName, long step) {
  char number[32];
  std::snprintf(number, sizeof number, "_%06ld.vtu", step);
  return folderName + number;
}

void appendArray(std::string& xml, const char* type, const char* name, int components,
                 BlockSize offset) {
  xml += "        <DataArray type=\"";
  xml += type;
  xml += "\" Name=\"";
  xml += name;
  xml += "\" NumberOfComponents=\"";
  appendNumber(xml, static_cast<long>(components));
  xml += "\" format=\"appended\" offset=\"";
  appendNumber(xml, static_cast<long>(offset));
  xml += "\"/>\n";
}

// The XML part of a .vtu: the grid's sizes and where each array lies in the appended data, in
// the order the arrays follow one another there.
void appendVtuHeader(std::string& xml, int cells) {
  const BlockSize vectors = sizeof(BlockSize) + BlockSize{NODE_COUNT} * 3 * sizeof(double);
  const BlockSize connectivity =
      sizeof(BlockSize) + static_cast<BlockSize>(cells) * 3 * sizeof(std::int32_t);
  const BlockSize offsets =
      sizeof(BlockSize) + static_cast<BlockSize>(cells) * sizeof(std::int32_t);
  xml +=
      "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"";
  xml += RAW_BYTE_ORDER;
  xml += "\" header_type=\"UInt64\">\n  <UnstructuredGrid>\n    <Piece NumberOfPoints=\"";
  appendNumber(xml, static_cast<long>(NODE_COUNT));
  xml += "\" NumberOfCells=\"";
  appendNumber(xml, static_cast<long>(cells));
  xml += "\">\n      <PointData Vectors=\"displacement\">\n";
  appendArray(xml, "Float64", "displacement", 3, 0);
  xml += "      </PointData>\n      <Points>\n";
  appendArray(xml, "Float64", "Points", 3, vectors);
  xml += "      </Points>\n      <Cells>\n";
  appendArray(xml, "Int32", "connectivity", 1, 2 * vectors);
  appendArray(xml, "Int32", "offsets", 1, 2 * vectors + connectivity);
  appendArray(xml, "UInt8", "types", 1, 2 * vectors + connectivity + offsets);
  xml += "      </Cells>\n    </Piece>\n  </UnstructuredGrid>\n";
  xml += "  <AppendedData encoding=\"raw\">\n_";
}

// The part of a .vtu that depends on the tables alone: the XML head and, appended, the points at
// the nodes' rest positions (z = 0) and the triangles the viewer draws. Built again only when the
// tables change, which in the common case is never after the first record.
void buildMesh(ParaViewOutput& out, const NodeTable& nodes, const ElementTable& elements) {
  const int cells = drawnCount(elements);
  out.nodes = nodes;
  out.elements = elements;
  out.meshReplaced = 0;
  out.head.clear();
  appendVtuHeader(out.head, cells);

  std::string& mesh = out.mesh;
  mesh.clear();
  appendRaw(mesh, BlockSize{NODE_COUNT} * 3 * sizeof(double));
  for (const NodePosition& node : nodes) {
    appendRaw(mesh, finiteOrZero(node.x, out.meshReplaced));
    appendRaw(mesh, finiteOrZero(node.y, out.meshReplaced));
    appendRaw(mesh, 0.0);
  }
  appendRaw(mesh, static_cast<BlockSize>(cells) * 3 * sizeof(std::int32_t));
  for (const Element& element : elements) {
    if (!isDrawn(element)) continue;
    for (std::int32_t node : element.nodes) appendRaw(mesh, node);
  }
  appendRaw(mesh, static_cast<BlockSize>(cells) * sizeof(std::int32_t));
  for (std::int32_t end = 3; end <= 3 * cells; end += 3) appendRaw(mesh, end);
  appendRaw(mesh, static_cast<BlockSize>(cells) * sizeof(std::uint8_t));
  mesh.append(static_cast<std::size_t>(cells), static_cast<char>(VTK_TRIANGLE));
  // Readers find the end of the raw data at the last line break before the closing tag.
  mesh += "\n  </AppendedData>\n</VTKFile>\n";
}

// One .vtu whole: the head, the displacement of every node as a 3-vector (z = 0), which "Warp By
// Vector" adds to the points, then the mesh.
void buildVtu(ParaViewOutput& out, const StepData& step) {
  double vectors[NODE_COUNT][3];
  for (int i = 0; i < NODE_COUNT; ++i) {
    vectors[i][0] = finiteOrZero(step.vectors[i][0], out.replaced);
    vectors[i][1] = finiteOrZero(step.vectors[i][1], out.replaced);
    vectors[i][2] = 0.0;
  }
  out.block.clear();
  out.block += out.head;
  appendRaw(out.block, BlockSize{sizeof vectors});
  out.block.append(reinterpret_cast<const char*>(vectors), sizeof vectors);
  out.block += out.mesh;
  out.replaced += out.meshReplaced;  // the points are written again in every file
}

}  // namespace

void checkParaViewTarget(ParaViewOutput& out, const std::string& pvdPath) {
  const fs::path pvd(pvdPath);
  out.pvdPath = pvdPath;
  out.folderName = pvd.stem().string();
  out.folderPath = (pvd.parent_path() / out.folderName).string();
  std::error_code ec;
  if (fs::is_directory(pvd, ec)) companion::fail(pvdPath + ": is a folder");
  if (fs::exists(fs::symlink_status(out.folderPath, ec))) {
    companion::fail(out.folderPath +
                    ": exists already; remove it or choose another name, so that " +
                    "no earlier .vtu files mix with these");
  }
}

void beginParaView(ParaViewOutput& out) {
  out.folderTemporary = companion::temporaryPath(out.folderPath);
  std::error_code ec;
  fs::create_directory(out.folderTemporary, ec);
  if (ec) companion::fail(out.folderPath + ": " + ec.message());
  out.pvdTemporary = companion::temporaryPath(out.pvdPath);
  openOutput(out.collection, out.pvdTemporary, out.pvdPath);
  writeOutput(out.collection,
              std::string("<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" ") +
                  "version=\"1.0\" byte_order=\"" + RAW_BYTE_ORDER +
                  "\" header_type=\"UInt64\">\n  <Collection>\n");
  failOnError(out.collection);
}

std::string addParaViewStep(ParaViewOutput& out, const StepData& step) {
  const std::string name = vtuName(out.folderName, out.steps);
  if (out.steps == 0 || std::memcmp(&out.nodes, &step.nodes, sizeof step.nodes) != 0 ||
      std::memcmp(&out.elements, &step.elements, sizeof step.elements) != 0) {
    buildMesh(out, step.nodes, step.elements);
  }
  buildVtu(out, step);
  OutputFile vtu;
  openOutput(vtu, (fs::path(out.folderTemporary) / name).string(),
             (fs::path(out.folderPath) / name).string());
  writeOutput(vtu, out.block);
  closeOutput(vtu);
  if (!vtu.error.empty()) return vtu.error;

  std::string entry = "    <DataSet timestep=\"";
  appendNumber(entry, finiteOrZero(step.time, out.replaced));
  entry +=
      "\" group=\"\" part=\"0\" file=\"" + xmlAttribute(out.folderName + "/" + name) + "\"/>\n";
  writeOutput(out.collection, entry);
  ++out.steps;
  return out.collection.error;
}

void finishParaView(ParaViewOutput& out) {
  writeOutput(out.collection, "  </Collection>\n</VTKFile>\n");
  closeOutput(out.collection);
  failOnError(out.collection);
  // The folder first: a .pvd that is there always finds its files.
  companion::commit(out.folderTemporary, out.folderPath);
  companion::commit(out.pvdTemporary, out.pvdPath);
}
