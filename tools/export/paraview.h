// The ParaView export: NAME.pvd, a collection that lists one NAME/NAME_NNNNNN.vtu per time step
// with the step's time, so that ParaView plays the run as a time series.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/output_file.h"
#include "common/step_writer.h"
#include "common/temporary_output.h"

namespace companion {

class ParaViewWriter : public StepWriter {
 public:
  // Refuses, before anything is read: a folder at NAME.pvd, and a folder NAME that is not empty
  // (an earlier export: its files would mix with this one's). Creates the folder and the
  // collection under temporary names.
  explicit ParaViewWriter(const std::string& pvdPath);

  // Writes the .vtu of one time step (its own tables and displacements) and its entry in the
  // collection.
  void add(const StepData& step) override;

  // Completes the collection, then moves the folder and the .pvd to their names: both, or if the
  // second cannot be moved, neither.
  void finish() override;

 private:
  std::string folderName_;  // NAME: the .vtu files' folder and file names start with it
  std::unique_ptr<TemporaryOutput> folder_;
  std::unique_ptr<TemporaryOutput> pvd_;
  std::unique_ptr<OutputFile> collection_;
  // The tables of the last step, and what of a .vtu depends on them alone: its XML head and its
  // appended points and cells, with the count of values in them written as 0.
  KeptMesh lastMesh_;
  std::string head_;
  std::string mesh_;
  long meshReplaced_ = 0;
  std::vector<double> vectors_;  // one step's displacements as 3-vectors; reused
  std::string block_;            // one .vtu file, built whole and written at once; reused

  void buildMesh(const MeshView& mesh);
};

}  // namespace companion
