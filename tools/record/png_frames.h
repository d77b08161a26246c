// PNG output: one numbered file a frame, frame-000000.png, frame-000001.png, ..., in a folder.
#pragma once

#include <string>

#include "picture.h"

struct PngFrames {
  std::string folder;     // as the user named it
  std::string temporary;  // where the frames are written until the recording is complete
  bool existing = false;  // the folder exists: its frames are moved into it at the end
  long count = 0;
};

// Prepares the temporary folder: beside `folder` if it does not exist yet, inside it if it does.
// Fails naming `folder` when it cannot be written.
void openPngFrames(PngFrames& out, const std::string& folder);
void writePngFrame(PngFrames& out, const Image& image);
// Gives the frames their final place: the temporary folder renamed, or its files moved in.
void finishPngFrames(PngFrames& out);
