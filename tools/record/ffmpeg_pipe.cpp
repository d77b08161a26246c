// Frames piped into ffmpeg, whose messages are kept aside for the error message.
#include "ffmpeg_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "companion.h"

extern char** environ;

namespace {

// The running encoder, stopped before its unfinished file is removed when the recording fails.
pid_t encoder = -1;
int encoderMessages = -1;  // an unnamed file holding ffmpeg's stderr

void stopEncoder() {
  if (encoder <= 0) return;
  ::kill(encoder, SIGKILL);
  ::waitpid(encoder, nullptr, 0);
  encoder = -1;
}

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
std::string messagesTail() {
  char text[600];
  const off_t size = ::lseek(encoderMessages, 0, SEEK_END);
  const off_t from =
      size > static_cast<off_t>(sizeof text - 1) ? size - static_cast<off_t>(sizeof text - 1) : 0;
  const ssize_t got = ::pread(encoderMessages, text, sizeof text - 1, from);
  std::string tail(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
  for (char& c : tail) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return tail.empty() ? "no message" : tail;
}

// Waits for ffmpeg to end; its wait status.
int reapEncoder() {
  int status = 0;
  while (encoder > 0 && ::waitpid(encoder, &status, 0) < 0 && errno == EINTR) {
  }
  encoder = -1;
  return status;
}

[[noreturn]] void failEncoder(const std::string& what, int status) {
  std::string how = what;
  if (WIFEXITED(status)) how += " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  if (WIFSIGNALED(status)) how += std::string(" (") + strsignal(WTERMSIG(status)) + ")";
  companion::fail(how + ": " + messagesTail());
}

}  // namespace

void openFfmpeg(FfmpegPipe& out, const std::string& file, VideoFormat format, long fps, int width,
                int height) {
  out.file = file;
  out.temporary = companion::temporaryPath(file);
  // Created here, so that an unwritable place is reported as such rather than in ffmpeg's words.
  const int made = ::open(out.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (made < 0) companion::fail(file + ": " + std::strerror(errno));
  ::close(made);
  std::FILE* messages = std::tmpfile();
  int pipeEnds[2];
  if (messages == nullptr || ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    companion::fail(std::string("cannot start ffmpeg: ") + std::strerror(errno));
  }
  encoderMessages = ::fileno(messages);

  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-nostdin",          "-loglevel", "error",
      "-f",     "rawvideo",     "-pix_fmt",          "rgb24",     "-video_size",
      size,     "-framerate",   std::to_string(fps), "-i",        "pipe:0"};
  std::istringstream words(encoding(format));
  for (std::string word; words >> word;) args.push_back(word);
  args.insert(args.end(), {"-y", out.temporary});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, encoderMessages, 1);
  posix_spawn_file_actions_adddup2(&actions, encoderMessages, 2);
  // Its own process group: Ctrl-C reaches the recorder alone, which stops ffmpeg itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  const int error = posix_spawnp(&encoder, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeEnds[0]);
  if (error != 0) {
    encoder = -1;
    companion::fail(error == ENOENT ? "ffmpeg not found: install Debian's ffmpeg package, or "
                                      "record PNG frames into a folder"
                                    : std::string("cannot start ffmpeg: ") + std::strerror(error));
  }
  companion::atFailure(stopEncoder);
  out.input = pipeEnds[1];
}

void writeFfmpegFrame(FfmpegPipe& out, const Image& image) {
  const unsigned char* data = image.rgb.data();
  std::size_t left = image.rgb.size();
  while (left > 0) {
    const ssize_t put = ::write(out.input, data, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) failEncoder("ffmpeg stopped reading frames", reapEncoder());
    data += put;
    left -= static_cast<std::size_t>(put);
  }
}

void finishFfmpeg(FfmpegPipe& out) {
  ::close(out.input);
  out.input = -1;
  const int status = reapEncoder();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failEncoder("ffmpeg failed", status);
  companion::commit(out.temporary, out.file);
}
