// Video output: the ffmpeg program, started as a child process, encodes raw RGB frames that it
// reads on its standard input.
#pragma once

#include <string>

#include "picture.h"

enum class VideoFormat { MP4, WEBM, GIF };

struct FfmpegPipe {
  std::string file;       // as the user named it
  std::string temporary;  // what ffmpeg writes until the recording is complete
  int input = -1;         // ffmpeg's standard input
};

// Starts ffmpeg writing `format` at `fps` frames per second of `width` x `height` pixels into a
// temporary file beside `file`. Fails naming `file` if it cannot be written, and naming Debian's
// ffmpeg package if ffmpeg is not installed.
void openFfmpeg(FfmpegPipe& out, const std::string& file, VideoFormat format, long fps, int width,
                int height);
void writeFfmpegFrame(FfmpegPipe& out, const Image& image);
// Ends the input, waits for ffmpeg and renames its file into place; fails with the end of
// ffmpeg's messages if it did not succeed.
void finishFfmpeg(FfmpegPipe& out);
