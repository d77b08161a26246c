// Frames piped into ffmpeg, whose messages are kept aside for the error message.
#include "record/ffmpeg_pipe.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/failure.h"
#include "common/signals.h"

namespace companion {

namespace {

// The container is named by -f: the temporary file's name says nothing. Every format is one that
// common players and browsers show: H.264 in yuv420p, VP9, and a GIF whose palette is made per
// frame from the frame's own colours, so the viewer's few colours come out exact without holding
// the whole video in memory for one palette. x264's fastest preset takes half the time of its
// "veryfast" for a line drawing of this size, which matters as much as drawing it; the price is a
// file about 1.8 times as large (about 2 Mbit/s).
const char* encoding(VideoFormat format) {
  switch (format) {
    case VideoFormat::MP4:
      return "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -movflags +faststart -f mp4";
    case VideoFormat::WEBM:
      return "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -b:v 0 -crf 32 "
             "-pix_fmt yuv420p -f webm";
    case VideoFormat::GIF: break;
  }
  return "-vf split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1 -f gif";
}

// The last lines ffmpeg wrote, on one line.
std::string messagesTail(int fd) {
  char text[600];
  const off_t size = ::lseek(fd, 0, SEEK_END);
  const off_t from =
      size > static_cast<off_t>(sizeof text - 1) ? size - static_cast<off_t>(sizeof text - 1) : 0;
  const ssize_t got = ::pread(fd, text, sizeof text - 1, from);
  std::string tail(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
  for (char& c : tail) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return tail.empty() ? "no message" : tail;
}

}  // namespace

FfmpegPipe::FfmpegPipe(const std::string& file, VideoFormat format, long fps, int width, int height)
    : temporary_(file, TemporaryOutput::Kind::File),
      messages_(::memfd_create("ffmpeg-messages", MFD_CLOEXEC)) {
  int ends[2];
  if (messages_.get() < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    throw Failure(std::string("cannot start ffmpeg: ") + std::strerror(errno));
  }
  UniqueFd output(ends[0]);
  input_.reset(ends[1]);

  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-nostdin",          "-loglevel", "error",
      "-f",     "rawvideo",     "-pix_fmt",          "rgb24",     "-video_size",
      size,     "-framerate",   std::to_string(fps), "-i",        "pipe:0"};
  std::istringstream words(encoding(format));
  for (std::string word; words >> word;) args.push_back(word);
  // "file:" makes ffmpeg take the rest as a file name, whatever colons the folder's name holds.
  args.insert(args.end(), {"-y", "file:" + temporary_.path()});
  try {
    ffmpeg_ = std::make_unique<ChildProcess>(
        args, std::vector<int>{output.get(), messages_.get(), messages_.get()}, SIGKILL);
  } catch (const SpawnFailure& failure) {
    if (failure.error != ENOENT) throw;
    throw Failure(
        "ffmpeg not found: install Debian's ffmpeg package, or record PNG frames into a folder");
  }
}

void FfmpegPipe::fail(const std::string& what, int status) const {
  throw Failure(temporary_.finalPath() + ": " + what + " (" + describeStatus(status) +
                "): " + messagesTail(messages_.get()));
}

void FfmpegPipe::write(Image& image) {
  const unsigned char* data = image.rgb.data();
  std::size_t left = image.rgb.size();
  while (left > 0) {
    const ssize_t put = ::write(input_.get(), data, left);
    if (put < 0 && errno == EINTR) {
      throwIfInterrupted();
      continue;
    }
    if (put <= 0) fail("ffmpeg stopped reading frames", ffmpeg_->wait());
    data += put;
    left -= static_cast<std::size_t>(put);
  }
}

void FfmpegPipe::finish() {
  input_.reset();
  const int status = ffmpeg_->wait();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("ffmpeg failed", status);
  temporary_.commit();
}

}  // namespace companion
