// PNG output: one numbered file a frame, frame-000000.png, frame-000001.png, ..., in a folder.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "picture.h"

// Frames are encoded and written by a thread of their own while the next one is drawn: encoding
// costs about as much as drawing.
struct PngFrames {
  std::string folder;     // as the user named it
  std::string temporary;  // where the frames are written until the recording is complete
  bool existing = false;  // the folder exists: its frames are moved into it at the end
  long count = 0;         // frames handed over

  std::thread writer;
  std::mutex lock;
  std::condition_variable changed;
  Image pending;       // the frame being written, while full
  bool full = false;   // the writer holds a frame
  bool ended = false;  // no more frames come: the writer ends
  std::string error;   // the writer's failure, reported by the next call
};

// Prepares the temporary folder, beside `folder` if it does not exist yet, inside it if it does,
// and starts the writer. Fails naming `folder` when it cannot be written.
void openPngFrames(PngFrames& out, const std::string& folder);
// Hands the frame over, once the writer is done with the one before; `image` gets back a buffer.
void writePngFrame(PngFrames& out, Image& image);
// Waits for the last frame, then gives the frames their final place: the temporary folder
// renamed, or its files moved in.
void finishPngFrames(PngFrames& out);
