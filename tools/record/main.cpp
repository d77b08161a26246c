// meshplay-a-record, meshplay-b-record, ...: record the viewer's replay of the files in the
// current folder, frame for frame as the viewer draws it, into a video (through ffmpeg) or a
// folder of PNG files.
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "companion.h"
#include "display.h"
#include "ffmpeg_pipe.h"
#include "frames.h"
#include "model/viewer_state.h"
#include "options.h"
#include "picture.h"
#include "png_frames.h"
#include "viewer/startup.h"

namespace {

// Where the frames go: a folder (named with a final '/', or existing), or a video file.
struct Output {
  bool png = false;
  PngFrames frames;
  FfmpegPipe video;
};

// The kind of output is told by the OUTPUT's name: a folder, or a video by its extension in any
// case.
void openOutput(Output& out, const RecordOptions& o) {
  std::error_code ec;
  out.png = o.output.back() == '/' || std::filesystem::is_directory(o.output, ec);
  if (out.png) {
    openPngFrames(out.frames, o.output);
    return;
  }
  std::string ext = std::filesystem::path(o.output).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const struct {
    const char* ext;
    VideoFormat format;
  } videos[] = {
      {".mp4", VideoFormat::MP4}, {".webm", VideoFormat::WEBM}, {".gif", VideoFormat::GIF}};
  for (const auto& video : videos) {
    if (ext != video.ext) continue;
    const int size = WINDOW_SIZE * static_cast<int>(o.scale);
    openFfmpeg(out.video, o.output, video.format, o.fps, size, size);
    return;
  }
  companion::fail(o.output + ": unknown kind of output: name a .mp4, .webm or .gif file, or a " +
                  "folder for PNG frames");
}

void writeFrames(Output& out, Snapshot& held, long count, long scale, Image& image) {
  for (long i = 0; i < count; ++i) {
    drawPicture(held, scale, image);
    if (out.png) {
      writePngFrame(out.frames, image);
    } else {
      writeFfmpegFrame(out.video, image);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Every PNG frame gets a fresh zlib state of about 270 KB. Above the C library's threshold each
  // would be mapped from the system and unmapped again, and its pages faulted in afresh: kept on
  // the heap, the same pages serve every frame (the viewer does the same for Mesa's buffers).
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
  companion::start(argc > 0 ? argv[0] : nullptr);
  const RecordOptions options = parseOptions(argc, argv);
  companion::openRun();
  Output out;
  openOutput(out, options);
  ensureDisplay();
  openPictureWindow(argc > 0 && argv[0] != nullptr ? argv[0] : "meshplay-record");

  // Streaming: one record is held until the time of the next says how many frames it gets.
  FrameSchedule schedule;
  schedule.fps = options.fps;
  schedule.speed = options.speed;
  schedule.every = options.every;
  Snapshot held;
  Image image;
  bool any = false;
  while (companion::nextRecord(options.range)) {
    const double t = state.shownRecord.time();
    if (any) {
      writeFrames(out, held, framesBefore(schedule, t), options.scale, image);
    } else {
      startSchedule(schedule, t);
    }
    any = true;
    takeSnapshot(held);
    companion::progress(schedule.frames, "frames");
  }
  if (!any) companion::fail("result.dat: no time step to record in the run");
  writeFrames(out, held, framesAtEnd(schedule), options.scale, image);
  companion::progressDone();

  if (out.png) {
    finishPngFrames(out.frames);
  } else {
    finishFfmpeg(out.video);
  }
  closePictureWindow();
  releaseDisplay();
  return 0;
}
