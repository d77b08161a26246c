// Video output: the ffmpeg program, run as a child process, encodes raw RGB frames that it reads
// on its standard input into a file.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"
#include "image.h"
#include "temporary_output.h"
#include "unique_fd.h"

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

  companion::TemporaryOutput temporary_;
  companion::UniqueFd messages_;  // ffmpeg's standard output and error: a file in memory
  companion::UniqueFd input_;     // ffmpeg's standard input
  // Last: on any failure it is stopped and reaped first, then its unfinished file removed.
  std::unique_ptr<companion::ChildProcess> ffmpeg_;
};
