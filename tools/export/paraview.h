// The ParaView export: NAME.pvd, a collection that lists one NAME/NAME_NNNNNN.vtu per time step
// with the step's time, so that ParaView plays the run as a time series.
#pragma once

#include <string>

#include "output_file.h"
#include "model/tables.h"
#include "mesh_values.h"

struct ParaViewOutput {
  std::string pvdPath;       // NAME.pvd as given
  std::string folderPath;    // NAME beside it, the .vtu files' folder
  std::string folderName;    // NAME: the .vtu files' folder and file names start with it
  std::string pvdTemporary;  // where both are written until they are complete
  std::string folderTemporary;
  OutputFile collection;
  // The tables of the last step, and what of a .vtu depends on them alone: its XML head and its
  // appended points and cells, with the count of values in them written as 0.
  NodeTable nodes{};
  ElementTable elements{};
  std::string head;
  std::string mesh;
  long meshReplaced = 0;
  std::string block;  // one .vtu file, built whole and written at once; reused
  long steps = 0;
  long replaced = 0;  // values written as 0: not finite numbers
};

// Fails, before anything is read or written, if the .vtu folder or the .pvd cannot take the
// output: a folder of that name exists already (an earlier export: its files would mix with
// this one's), or the .pvd's name is a folder.
void checkParaViewTarget(ParaViewOutput& out, const std::string& pvdPath);

// Creates the temporary folder and collection; fails naming what it cannot create.
void beginParaView(ParaViewOutput& out);

// Writes the .vtu of one time step (the step's own tables and displacements) and its entry in the
// collection. Returns the first failure, if any.
std::string addParaViewStep(ParaViewOutput& out, const StepData& step);

// Completes the collection and moves the folder, then the .pvd, to their names;
// fails naming what it cannot write or rename.
void finishParaView(ParaViewOutput& out);
