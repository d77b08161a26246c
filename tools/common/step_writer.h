// What every writer of a run's steps does (the export formats, the web page): its output is made
// before the run, so that an output that cannot be written is refused at once; it takes the time
// steps in order; it is finished once.
#pragma once

#include "common/mesh_values.h"

namespace companion {

class StepWriter {
 public:
  virtual ~StepWriter() = default;

  // Writes one time step: its time, its displacements and its own mesh. Throws naming the file.
  virtual void add(const StepData& step) = 0;

  // Completes the output and moves it into place. Throws naming the file; the output is then
  // not there, nor any part of it.
  virtual void finish() = 0;

  long steps() const { return steps_; }
  long replaced() const { return replaced_; }  // values written as 0: not finite numbers

 protected:
  long steps_ = 0;
  long replaced_ = 0;
};

}  // namespace companion
