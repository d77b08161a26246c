// The ParaView export: a .pvd collection and one .vtu file per time step, in VTK's XML format
// with the arrays appended raw (binary), which is small and quick to write and to read.
#include "export/paraview.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/failure.h"
#include "common/markup.h"
#include "common/output_path.h"

namespace companion {

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
void appendVtuHeader(std::string& xml, std::size_t points, std::size_t cells) {
  const BlockSize vectors = sizeof(BlockSize) + BlockSize{points} * 3 * sizeof(double);
  const BlockSize connectivity =
      sizeof(BlockSize) + static_cast<BlockSize>(cells) * 3 * sizeof(std::int32_t);
  const BlockSize offsets =
      sizeof(BlockSize) + static_cast<BlockSize>(cells) * sizeof(std::int32_t);
  xml +=
      "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"";
  xml += RAW_BYTE_ORDER;
  xml += "\" header_type=\"UInt64\">\n  <UnstructuredGrid>\n    <Piece NumberOfPoints=\"";
  appendNumber(xml, static_cast<long>(points));
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

std::string refuseFolders(const std::string& pvdPath, const fs::path& folder) {
  refuseFolder(pvdPath);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(folder, ec);
  if (fs::exists(status) && !fs::is_directory(status)) {
    throw Failure(folder.string() + ": exists already and is not a folder; remove it or choose " +
                  "another name");
  }
  if (fs::is_directory(status) && !fs::is_empty(folder, ec)) {
    throw Failure(folder.string() + ": exists already and is not empty; remove it or choose " +
                  "another name, so that no earlier .vtu files mix with these");
  }
  return folder.string();
}

}  // namespace

ParaViewWriter::ParaViewWriter(const std::string& pvdPath)
    : folderName_(fs::path(pvdPath).stem().string()) {
  const fs::path folder = fs::path(pvdPath).parent_path() / folderName_;
  folder_ = std::make_unique<TemporaryOutput>(refuseFolders(pvdPath, folder),
                                              TemporaryOutput::Kind::Folder);
  pvd_ = std::make_unique<TemporaryOutput>(pvdPath, TemporaryOutput::Kind::File);
  collection_ = std::make_unique<OutputFile>(pvd_->path(), pvdPath);
  collection_->write(std::string("<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" ") +
                     "version=\"1.0\" byte_order=\"" + RAW_BYTE_ORDER +
                     "\" header_type=\"UInt64\">\n  <Collection>\n");
}

// The part of a .vtu that depends on the tables alone: the XML head and, appended, the points at
// the nodes' rest positions (z = 0) and the triangles the viewer draws. Built again only when the
// tables change, which in the common case is never after the first step.
void ParaViewWriter::buildMesh(const MeshView& mesh) {
  const std::size_t cells = drawnCount(mesh);
  lastMesh_.keep(mesh);
  meshReplaced_ = 0;
  head_.clear();
  appendVtuHeader(head_, mesh.nodeCount, cells);

  mesh_.clear();
  appendRaw(mesh_, BlockSize{mesh.nodeCount} * 3 * sizeof(double));
  for (const NodePosition& node : lastMesh_.nodes()) {
    appendRaw(mesh_, finiteOrZero(node.x, meshReplaced_));
    appendRaw(mesh_, finiteOrZero(node.y, meshReplaced_));
    appendRaw(mesh_, 0.0);
  }
  appendRaw(mesh_, static_cast<BlockSize>(cells) * 3 * sizeof(std::int32_t));
  for (const Element& element : lastMesh_.elements()) {
    if (!isDrawn(element, mesh.nodeCount)) continue;
    for (std::int32_t node : element.nodes) appendRaw(mesh_, node);
  }
  appendRaw(mesh_, static_cast<BlockSize>(cells) * sizeof(std::int32_t));
  for (std::size_t end = 3; end <= 3 * cells; end += 3) {
    appendRaw(mesh_, static_cast<std::int32_t>(end));
  }
  appendRaw(mesh_, static_cast<BlockSize>(cells) * sizeof(std::uint8_t));
  mesh_.append(cells, static_cast<char>(VTK_TRIANGLE));
  // Readers find the end of the raw data at the last line break before the closing tag.
  mesh_ += "\n  </AppendedData>\n</VTKFile>\n";
}

void ParaViewWriter::add(const StepData& step) {
  const MeshView& mesh = step.mesh;
  if (!lastMesh_.matches(mesh)) buildMesh(mesh);
  // The displacement of every node as a 3-vector (z = 0), which "Warp By Vector" adds to the
  // points, between the head and the mesh.
  vectors_.resize(3 * mesh.nodeCount);
  for (std::size_t i = 0; i < mesh.nodeCount; ++i) {
    vectors_[3 * i] = finiteOrZero(step.displacements[i][0], replaced_);
    vectors_[3 * i + 1] = finiteOrZero(step.displacements[i][1], replaced_);
    vectors_[3 * i + 2] = 0.0;
  }
  block_.clear();
  block_ += head_;
  appendRaw(block_, BlockSize{vectors_.size() * sizeof(double)});
  block_.append(reinterpret_cast<const char*>(vectors_.data()), vectors_.size() * sizeof(double));
  block_ += mesh_;
  replaced_ += meshReplaced_;  // the points are written again in every file

  const std::string name = vtuName(folderName_, steps_);
  OutputFile vtu((fs::path(folder_->path()) / name).string(),
                 (fs::path(folder_->finalPath()) / name).string());
  vtu.write(block_);
  vtu.close();

  std::string entry = "    <DataSet timestep=\"";
  appendNumber(entry, finiteOrZero(step.time, replaced_));
  entry += "\" group=\"\" part=\"0\" file=\"" + escapeMarkup(folderName_ + "/" + name) + "\"/>\n";
  collection_->write(entry);
  ++steps_;
}

void ParaViewWriter::finish() {
  collection_->write("  </Collection>\n</VTKFile>\n");
  collection_->close();
  // The folder first: a .pvd that is there always finds its files.
  commitBoth(*folder_, *pvd_);
}

}  // namespace companion
