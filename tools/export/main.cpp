// meshplay-a-export, meshplay-b-export, ...: the viewer's run, record by record as the viewer
// replays it, written for ParaView (.pvd and .vtu files) or Gmsh (.msh). No window: the records go
// through the viewer's own replay step, so the run ends where the viewer's ends and the mesh is the
// one the viewer holds at each record.
#include <string>

#include "companion.h"
#include "gmsh.h"
#include "model/viewer_state.h"
#include "options.h"
#include "paraview.h"

namespace {

void warnIf(bool condition, const std::string& message) {
  if (condition)
    std::fprintf(stderr, "%s: warning: %s\n", companion::programName().c_str(), message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  companion::start(argc > 0 ? argv[0] : nullptr);
  const ExportOptions options = parseOptions(argc, argv);
  ParaViewOutput paraview;
  GmshOutput gmsh;
  const bool toParaView = options.format == Format::ParaView;
  if (toParaView) checkParaViewTarget(paraview, options.output);
  companion::openRun();

  long shown = 0;  // records of the cut run so far
  long steps = 0;  // records written
  while (companion::nextRecord(options.range)) {
    if (shown++ % options.every != 0) continue;
    if (steps == 0 && toParaView) beginParaView(paraview);
    if (steps == 0 && !toParaView) beginGmsh(gmsh, options.output);
    const StepData step{state.shownRecord.time(), state.shownRecord.vectors, state.nodeTable,
                        state.elementTable};
    const std::string error =
        toParaView ? addParaViewStep(paraview, step) : addGmshStep(gmsh, step);
    if (!error.empty()) companion::fail(error);
    companion::progress(++steps, "steps");
  }
  companion::progressDone();
  if (companion::recordsRead() == 0) companion::fail("result.dat: no time step to export");
  if (steps == 0) companion::fail("no time step of the run lies between --from and --to");

  if (toParaView) {
    finishParaView(paraview);
  } else {
    finishGmsh(gmsh);
  }
  const long replaced = paraview.replaced + gmsh.replaced;
  warnIf(replaced > 0, std::to_string(replaced) +
                           (replaced == 1 ? " value that is not a finite number"
                                          : " values that are not finite numbers") +
                           " (NaN or infinity) written as 0");
  warnIf(gmsh.meshChanged, "the node or triangle table changed during the run; " + options.output +
                               " holds the mesh of its first time step");
  return 0;
}
