// The recorder's frame schedule: how many frames each record gets, in model time or every N-th,
// and the holds too long for a video, blamed on --speed or on the data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/failure.h"
#include "record/frames.h"

namespace {

TEST(FrameSchedule, FramesPerRecordInModelTimeOrEveryNth) {
  const struct {
    const char* why;
    long fps;
    double speed;
    long every;
    std::vector<double> times;
    std::vector<long> frames;  // per record, the last one's at the end of the run
    const char* failure;       // or the start of the message that stops the recording
  } rows[] = {
      {"model time: a frame shows the last record at or before its time",
       10,
       1.0,
       0,
       {0.0, 0.05, 0.05, 0.4, 1.3},
       {1, 0, 3, 9, 1},
       nullptr},
      {"twice as fast", 10, 2.0, 0, {0.0, 0.4, 1.0}, {2, 3, 1}, nullptr},
      {"a time going back replaces the record before it",
       4,
       1.0,
       0,
       {1.0, 0.5, 2.0},
       {0, 4, 1},
       nullptr},
      {"every third, the last included",
       30,
       1.0,
       3,
       {0, 1, 2, 3, 4, 5, 6, 7},
       {1, 0, 0, 1, 0, 0, 1, 1},
       nullptr},
      {"every third, the last a multiple", 30, 1.0, 3, {0, 1, 2, 3}, {1, 0, 0, 1}, nullptr},
      {"a single record", 30, 1.0, 0, {5.0}, {1}, nullptr},
      {"a speed too slow for the data", 30, 1e-6, 0, {0.0, 0.01}, {}, "--speed 1e-06: "},
      {"a step too long at this speed", 30, 1.0, 0, {0.0, 700.0}, {}, "--speed 1: "},
      {"a step too long at any speed",
       30,
       1e6,
       0,
       {0.0, 1e300},
       {},
       "result.dat: the time jumps from 0 s to 1e+300 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    companion::FrameSchedule s;
    s.fps = row.fps;
    s.speed = row.speed;
    s.every = row.every;
    std::vector<long> frames;
    try {
      startSchedule(s, row.times[0]);
      for (std::size_t i = 1; i < row.times.size(); ++i)
        frames.push_back(framesBefore(s, row.times[i]));
      frames.push_back(framesAtEnd(s));
      EXPECT_EQ(row.failure, nullptr);
    } catch (const companion::Failure& failure) {
      ASSERT_NE(row.failure, nullptr) << failure.what();
      EXPECT_EQ(std::string(failure.what()).rfind(row.failure, 0), 0u) << failure.what();
      continue;
    }
    EXPECT_EQ(frames, row.frames);
  }
}

}  // namespace
