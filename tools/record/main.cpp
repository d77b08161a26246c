// meshplay-a-record, meshplay-b-record, ...: record the viewer's replay of the files in the
// current folder, frame for frame as the viewer draws it, into a video (through ffmpeg) or a
// folder of PNG files.
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "common/failure.h"
#include "common/output_path.h"
#include "common/program.h"
#include "common/progress.h"
#include "common/signals.h"
#include "record/display.h"
#include "record/ffmpeg_pipe.h"
#include "record/frames.h"
#include "record/picture.h"
#include "record/png_frames.h"
#include "run/run.h"
#include "viewer/window.h"

namespace {

using namespace companion;

struct RecordOptions {
  long fps = 30;
  double speed = 1.0;
  bool speedGiven = false;
  long every = 0;  // 0: frames in model time
  TimeRange range;
  long scale = 1;
};

CommandLine commandLine(RecordOptions& o) {
  CommandLine cli{
      "OUTPUT",
      true,
      "a .mp4, .webm or .gif file, or a folder (FOLDER/) for PNG frames",
      "Records the replay of geodata.dat, tridata.dat and result.dat in the current folder, each\n"
      "frame drawn as the viewer draws it, from the first record to the end of the run.\n"
      "OUTPUT is FILE.mp4 (H.264), FILE.webm (VP9) or FILE.gif, encoded by ffmpeg, or a new or\n"
      "empty folder (FOLDER/) that receives frame-000000.png, frame-000001.png, ...\n"
      "Without a usable X display the frames are drawn on a private Xvfb.",
      {{"fps", "N", "frames per second of video (default 30)", "a whole number from 1 to 1000",
        &o.fps, 1, 1000},
       {"speed", "X", "model seconds per second of video (default 1)",
        "a number from 1e-06 to 1e+06", &o.speed, MIN_SPEED, MAX_SPEED, &o.speedGiven}}};
  // Frames follow model time unless --every is given: then one frame a step of the cut.
  const std::vector<Option> cut =
      cutOptions(o.every, o.range,
                 "one frame for every N-th time step instead, the first and the last included");
  cli.options.insert(cli.options.end(), cut.begin(), cut.end());
  cli.options.push_back({"scale", "N", "enlarge each frame N times, pixel for pixel (default 1)",
                         "a whole number from 1 to 10", &o.scale, 1, 10});
  return cli;
}

// The kind of output is told by its name: a folder (a final '/', or one that exists), or a video
// by its extension in any case.
std::unique_ptr<FrameSink> openSink(const std::string& output, const RecordOptions& o) {
  std::error_code ec;
  if (output.back() == '/' || std::filesystem::is_directory(output, ec)) {
    return std::make_unique<PngFrames>(output);
  }
  const std::string ext = lowerExtension(output);
  const struct {
    const char* ext;
    VideoFormat format;
  } videos[] = {
      {".mp4", VideoFormat::MP4}, {".webm", VideoFormat::WEBM}, {".gif", VideoFormat::GIF}};
  for (const auto& video : videos) {
    if (ext != video.ext) continue;
    const int size = WINDOW_SIZE * static_cast<int>(o.scale);
    return std::make_unique<FfmpegPipe>(output, video.format, o.fps, size, size);
  }
  throw Failure(output + ": unknown kind of output: name a .mp4, .webm or .gif file, or a " +
                "folder for PNG frames");
}

void writeFrames(PictureWindow& window, FrameSink& sink, const Snapshot& held, long count,
                 long scale, Image& image) {
  for (long i = 0; i < count; ++i) {
    throwIfInterrupted();  // a record held for a long time is many frames
    window.draw(held.scene(), scale, image);
    sink.write(image);
  }
}

void record(const Program& program, const std::string& output, const RecordOptions& o) {
  if (o.speedGiven && o.every != 0) throw Failure("--speed and --every exclude each other");
  checkRange(o.range);
  Run run(program, o.range);
  const std::unique_ptr<FrameSink> sink = openSink(output, o);
  const XDisplay display(program);
  PictureWindow window(program.name.c_str());
  Progress progress(program.name, "frames");

  // Streaming: one record is held until the time of the next says how many frames it gets.
  FrameSchedule schedule;
  schedule.fps = o.fps;
  schedule.speed = o.speed;
  schedule.every = o.every;
  const auto held = std::make_unique<Snapshot>();
  Image image;
  while (run.next()) {
    const double t = run.scene().record.time();
    if (run.steps() == 1) {
      startSchedule(schedule, t);
    } else {
      writeFrames(window, *sink, *held, framesBefore(schedule, t), o.scale, image);
    }
    held->take(run.scene());
    progress.update(run.recordsRead(), schedule.frames, run.fractionRead());
  }
  run.requireSteps();
  writeFrames(window, *sink, *held, framesAtEnd(schedule), o.scale, image);
  sink->finish();
  progress.finish(run.recordsRead(), schedule.frames);
}

}  // namespace

// The window keeps freed memory for reuse (viewer/window.h), which also serves the PNG frames:
// each gets a fresh zlib state of about 270 KB, whose pages are then the same every frame.
int main(int argc, char** argv) {
  RecordOptions options;
  return runProgram(argc, argv, commandLine(options),
                    [&options](const Program& program, const std::string& output) {
                      record(program, output, options);
                    });
}
