// Video output: the ffmpeg program, run as a child process, encodes raw RGB frames that it reads
// on its standard input into a file.
#pragma once

#include <memory>
#include <string>

#include "common/child_process.h"
#include "common/temporary_output.h"
#include "common/unique_fd.h"
#include "record/image.h"

namespace companion {

enum class VideoFormat { MP4, WEBM, GIF };

class FfmpegPipe : public FrameSink {
 public:
  // Starts ffmpeg writing `format` at `fps` frames per second of `width` x `height` pixels into a
  // temporary file beside `file`. Throws naming `file` if it cannot be written, and naming
  // Debian's ffmpeg package if ffmpeg is not installed.
  FfmpegPipe(const std::string& file, VideoFormat format, long fps, int width, int height);

  void write(Image& image) override;
  // Ends the input, waits for ffmpeg and renames its file into place; throws with the end of
  // ffmpeg's messages if it did not succeed.
  void finish() override;

 private:
  [[noreturn]] void fail(const std::string& what, int status) const;

  TemporaryOutput temporary_;
  UniqueFd messages_;  // ffmpeg's standard output and error: a file in memory
  UniqueFd input_;     // ffmpeg's standard input
  // Last: on any failure it is stopped and reaped first, then its unfinished file removed.
  std::unique_ptr<ChildProcess> ffmpeg_;
};

}  // namespace companion
