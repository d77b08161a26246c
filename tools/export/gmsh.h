// The Gmsh export: one MSH 2.2 ASCII file, the mesh first and then one "displacement" $NodeData
// block per time step as it is read, which Gmsh loads as one view with one step per record.
#pragma once

#include <string>

#include "output_file.h"
#include "model/tables.h"
#include "mesh_values.h"

struct GmshOutput {
  std::string path;       // NAME.msh as given
  std::string temporary;  // where it is written until complete
  OutputFile file;
  std::string block;  // one section of text, built whole and written at once; reused
  // The mesh as written, from the first step: the file holds one mesh, so a later change of the
  // tables (a node or element file of several blocks) is noticed and reported, not written.
  NodeTable nodes{};
  ElementTable elements{};
  bool meshChanged = false;
  long steps = 0;
  long replaced = 0;  // values written as 0: not finite numbers
};

// Creates the temporary file; fails naming the file.
void beginGmsh(GmshOutput& out, const std::string& path);

// Writes one time step: on the first, the mesh of the step's tables, then its displacements.
// Returns the file's failure, if any.
std::string addGmshStep(GmshOutput& out, const StepData& step);

// Closes the file and moves it to its name; fails naming the file.
void finishGmsh(GmshOutput& out);
