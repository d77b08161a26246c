// PNG output: one numbered file a frame, frame-000000.png, frame-000001.png, ..., in a new folder.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "common/temporary_output.h"
#include "record/image.h"

namespace companion {

// Frames are encoded and written by a thread of their own while the next one is drawn: encoding
// costs about as much as drawing. They go into a temporary folder, which becomes the output
// folder when the recording is complete, so that the folder never holds a mix of recordings.
class PngFrames : public FrameSink {
 public:
  // Refuses, before anything is drawn, a `folder` that is not a folder or holds anything (an
  // empty one is replaced); makes the temporary folder beside it and starts the writer.
  explicit PngFrames(const std::string& folder);
  // Lets the writer finish the frame it holds, and waits for it.
  ~PngFrames() override;

  // Hands the frame over once the writer is done with the one before; `image` gets back a buffer.
  void write(Image& image) override;
  // Waits for the last frame, then renames the temporary folder to the output folder.
  void finish() override;

 private:
  void writeAll();  // the writer thread
  void stopWriter();

  std::string folder_;
  TemporaryOutput temporary_;
  long count_ = 0;  // frames handed over

  std::mutex lock_;
  std::condition_variable changed_;
  Image pending_;               // the frame being written, while full_
  bool full_ = false;           // the writer holds a frame
  bool ended_ = false;          // no more frames come: the writer ends
  std::exception_ptr failure_;  // the writer's failure, thrown again by the next call
  std::thread writer_;          // last: started once everything it uses exists
};

}  // namespace companion
