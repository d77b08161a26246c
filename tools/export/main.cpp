// meshplay-a-export, meshplay-b-export, ...: the viewer's run, record by record as the viewer
// replays it, written for ParaView (.pvd and .vtu files) or Gmsh (.msh). No window: the records go
// through the viewer's own replay step, so the run ends where the viewer's ends and the mesh is the
// one the viewer holds at each record.
#include <memory>
#include <string>

#include "common/failure.h"
#include "common/output_path.h"
#include "common/program.h"
#include "common/progress.h"
#include "export/gmsh.h"
#include "export/paraview.h"
#include "run/run.h"

namespace {

using namespace companion;

struct ExportOptions {
  long every = 1;
  TimeRange range;
};

CommandLine commandLine(ExportOptions& o) {
  return {
      "OUTPUT", true, "NAME.pvd (ParaView) or NAME.msh (Gmsh)",
      "Writes the run of geodata.dat, tridata.dat and result.dat in the current folder, "
      "as " MESHPLAY_VIEWER
      "\nreplays it, for ParaView or Gmsh. The name of OUTPUT chooses the format:\n"
      "  NAME.pvd  a ParaView collection listing NAME/NAME_000000.vtu, ... (one per time step)\n"
      "  NAME.msh  one Gmsh file (MSH 2.2 ASCII): the mesh and one data block per time step\n"
      "Values that are not finite numbers are written as 0, with a warning. See "
      "man " MESHPLAY_VIEWER "-export.",
      cutOptions(o.every, o.range)};
}

std::unique_ptr<StepWriter> openWriter(const std::string& output) {
  const std::string ext = lowerExtension(output);
  if (ext == ".pvd") return std::make_unique<ParaViewWriter>(output);
  if (ext == ".msh") return std::make_unique<GmshWriter>(output);
  throw Failure(output + ": unknown output format; name it NAME.pvd (ParaView) or NAME.msh (Gmsh)");
}

void exportRun(const Program& program, const std::string& output, const ExportOptions& o) {
  checkRange(o.range);
  Run run(program, o.range);
  const std::unique_ptr<StepWriter> writer = openWriter(output);
  Progress progress(program.name, "steps");
  writeRun(run, *writer, o.every, progress);

  warnNotFinite(program, writer->replaced());
  const auto* gmsh = dynamic_cast<const GmshWriter*>(writer.get());
  if (gmsh != nullptr && gmsh->meshChanged()) {
    program.warn("the node or triangle table changed during the run; " + output +
                 " holds the mesh of its first time step");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ExportOptions options;
  return runProgram(argc, argv, commandLine(options),
                    [&options](const Program& program, const std::string& output) {
                      exportRun(program, output, options);
                    });
}
