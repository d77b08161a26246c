// What the companions write: the exact .msh and .vtu of a one-cell mesh, and outputs that appear
// complete under their names or not at all.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/temporary_output.h"
#include "export/gmsh.h"
#include "export/paraview.h"
#include "html/page.h"
#include "scratch.h"

namespace {

namespace fs = std::filesystem;
using companion::GmshWriter;
using companion::ParaViewWriter;

// One square cell split into two triangles, and a third naming a node that is not there, which
// the viewer does not draw.
const NodePosition NODES[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
const Element ELEMENTS[] = {{{0, 1, 2}}, {{0, 2, 3}}, {{0, 1, 4}}};
const double MOVES[4][2] = {
    {0.5, 0}, {0, 0.25}, {-1e-3, std::numeric_limits<double>::quiet_NaN()}, {0, 0}};
const MeshView MESH{NODES, 4, ELEMENTS, 3};

TEST(Outputs, AOneCellMeshInGmshText) {
  const ScratchDirectory dir;
  GmshWriter gmsh("one.msh");
  gmsh.add({0.5, MOVES, MESH});
  gmsh.add({0.1 + 0.2, MOVES, MESH});   // a time whose shortest exact text is long
  EXPECT_FALSE(fs::exists("one.msh"));  // until it is complete
  gmsh.finish();
  const std::string data = "\n3\n4\n1 0.5 0 0\n2 0 0.25 0\n3 -0.001 0 0\n4 0 0 0\n$EndNodeData\n";
  EXPECT_EQ(dir.read("one.msh"),
            "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n"
            "$Nodes\n4\n1 0 0 0\n2 1 0 0\n3 1 1 0\n4 0 1 0\n$EndNodes\n"
            "$Elements\n2\n1 2 2 0 1 1 2 3\n2 2 2 0 1 1 3 4\n$EndElements\n"
            "$NodeData\n1\n\"displacement\"\n1\n0.5\n3\n0" +
                data + "$NodeData\n1\n\"displacement\"\n1\n0.30000000000000004\n3\n1" + data);
  EXPECT_EQ(gmsh.replaced(), 2);  // the NaN, once a step
  EXPECT_FALSE(gmsh.meshChanged());
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}

// Appended raw data: each array its size in bytes (UInt64), then its values.
template <class T>
std::vector<T> array(const std::string& raw, std::size_t& at) {
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, raw.data() + at, sizeof bytes);
  std::vector<T> values(bytes / sizeof(T));
  std::memcpy(values.data(), raw.data() + at + sizeof bytes, bytes);
  at += sizeof bytes + bytes;
  return values;
}

TEST(Outputs, AOneCellMeshInParaViewFiles) {
  const ScratchDirectory dir;
  ParaViewWriter paraview("one.pvd");
  paraview.add({0.25, MOVES, MESH});
  paraview.finish();
  EXPECT_EQ(dir.read("one.pvd"),
            "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"1.0\" "
            "byte_order=\"LittleEndian\" header_type=\"UInt64\">\n  <Collection>\n"
            "    <DataSet timestep=\"0.25\" group=\"\" part=\"0\" file=\"one/one_000000.vtu\"/>\n"
            "  </Collection>\n</VTKFile>\n");
  const std::string vtu = dir.read("one/one_000000.vtu");
  const std::string head =
      "<?xml version=\"1.0\"?>\n<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" "
      "byte_order=\"LittleEndian\" header_type=\"UInt64\">\n  <UnstructuredGrid>\n"
      "    <Piece NumberOfPoints=\"4\" NumberOfCells=\"2\">\n"
      "      <PointData Vectors=\"displacement\">\n"
      "        <DataArray type=\"Float64\" Name=\"displacement\" NumberOfComponents=\"3\" "
      "format=\"appended\" offset=\"0\"/>\n"
      "      </PointData>\n      <Points>\n"
      "        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\" "
      "format=\"appended\" offset=\"104\"/>\n"
      "      </Points>\n      <Cells>\n"
      "        <DataArray type=\"Int32\" Name=\"connectivity\" NumberOfComponents=\"1\" "
      "format=\"appended\" offset=\"208\"/>\n"
      "        <DataArray type=\"Int32\" Name=\"offsets\" NumberOfComponents=\"1\" "
      "format=\"appended\" offset=\"240\"/>\n"
      "        <DataArray type=\"UInt8\" Name=\"types\" NumberOfComponents=\"1\" "
      "format=\"appended\" offset=\"256\"/>\n"
      "      </Cells>\n    </Piece>\n  </UnstructuredGrid>\n"
      "  <AppendedData encoding=\"raw\">\n_";
  ASSERT_EQ(vtu.substr(0, head.size()), head);
  std::size_t at = head.size();
  EXPECT_EQ(array<double>(vtu, at),
            (std::vector<double>{0.5, 0, 0, 0, 0.25, 0, -1e-3, 0, 0, 0, 0, 0}));
  EXPECT_EQ(array<double>(vtu, at), (std::vector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
  EXPECT_EQ(array<std::int32_t>(vtu, at), (std::vector<std::int32_t>{0, 1, 2, 0, 2, 3}));
  EXPECT_EQ(array<std::int32_t>(vtu, at), (std::vector<std::int32_t>{3, 6}));
  EXPECT_EQ(array<std::uint8_t>(vtu, at), (std::vector<std::uint8_t>{5, 5}));
  EXPECT_EQ(vtu.substr(at), "\n  </AppendedData>\n</VTKFile>\n");
  EXPECT_EQ(paraview.replaced(), 1);
}

// Temporary names are short, plain and beside the final one; nothing is left unless committed;
// and of two outputs committed together, both appear or neither.
TEST(Outputs, AppearCompleteOrNotAtAll) {
  const ScratchDirectory dir;
  const std::string longName = std::string(251, 'x') + ".mp4";  // 255 bytes, the longest name
  for (const std::string& name : {std::string("12:30.mp4"), longName}) {
    companion::TemporaryOutput out(name, companion::TemporaryOutput::Kind::File);
    EXPECT_EQ(fs::path(out.path()).parent_path(), ".");
    EXPECT_EQ(fs::path(out.path()).filename().string().size(), 16u) << out.path();
    EXPECT_EQ(out.path().find(':'), std::string::npos);
    out.commit();
    EXPECT_TRUE(fs::exists(name));
  }
  // The .pvd cannot take its name (a folder is in the way): the folder committed first goes.
  fs::create_directories("run.pvd/in-the-way");
  {
    companion::TemporaryOutput folder("run", companion::TemporaryOutput::Kind::Folder);
    companion::TemporaryOutput pvd("run.pvd", companion::TemporaryOutput::Kind::File);
    EXPECT_THROW(companion::commitBoth(folder, pvd), companion::Failure);
  }
  EXPECT_FALSE(fs::exists("run"));
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 3);
  EXPECT_THROW(companion::TemporaryOutput("nowhere/x.msh", companion::TemporaryOutput::Kind::File),
               companion::Failure);
}

// A page whose very first write fails (a file-size limit of one byte) is one message naming it,
// leaves nothing behind, and keeps nothing of what it had opened (LeakSanitizer would say so).
TEST(Outputs, APageWhoseFirstWriteFailsLeavesNothing) {
  const ScratchDirectory dir;
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const rlimit oneByte{1, before.rlim_max};
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &oneByte), 0);
  std::string message;
  try {
    companion::PageWriter page("run.html", {"a run", "meshplay-a", "\"NX\": 1", 0}, {});
  } catch (const companion::Failure& failure) {
    message = failure.what();
  }
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(message, "run.html: File too large");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 0);
}

}  // namespace
