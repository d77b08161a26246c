// A picture of the recording, and where pictures go.
#pragma once

#include <vector>

namespace companion {

// An RGB picture, 3 bytes a pixel, rows from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

// Where the frames of a recording go: a video or a folder of PNG files.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // Takes one frame; `image` may come back holding another buffer. Throws naming the output.
  virtual void write(Image& image) = 0;
  // Completes the output and moves it into place; throws naming the output.
  virtual void finish() = 0;
};

}  // namespace companion
