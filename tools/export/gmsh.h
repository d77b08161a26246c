// The Gmsh export: one MSH 2.2 ASCII file, the mesh first and then one "displacement" $NodeData
// block per time step as it is read, which Gmsh loads as one view with one step per record.
#pragma once

#include <string>

#include "common/output_file.h"
#include "common/step_writer.h"
#include "common/temporary_output.h"

namespace companion {

class GmshWriter : public StepWriter {
 public:
  // Refuses a folder at `path`, and creates the file under its temporary name.
  explicit GmshWriter(const std::string& path);

  // On the first step, writes the mesh of the step's tables, then its displacements.
  void add(const StepData& step) override;
  void finish() override;

  // The file holds one mesh, that of the first step: a later change of the tables (a node or
  // element file of several blocks) is noticed here, to be reported, not written.
  bool meshChanged() const { return meshChanged_; }

 private:
  TemporaryOutput temporary_;
  OutputFile file_;
  std::string block_;  // one section of text, built whole and written at once; reused
  KeptMesh firstMesh_;
  bool meshChanged_ = false;
};

}  // namespace companion
