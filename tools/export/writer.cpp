// The writing thread and the one-step slot between it and the main thread. The thread never ends
// the program: its failures travel to the main thread, which alone calls companion::fail.
#include "writer.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "companion.h"

namespace {

struct Writer {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;  // the slot was filled or emptied, or the writer stopped
  std::function<std::string(const StepData&)> write;
  StepData slot;
  bool full = false;     // the slot holds a step the thread has not taken yet
  bool closing = false;  // no more steps will come
  bool stopped = false;  // the thread has ended
  std::string error;     // why it stopped early
};

Writer writer;

void run() {
  StepData step;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(writer.mutex);
      writer.changed.wait(lock, [] { return writer.full || writer.closing; });
      if (!writer.full) break;  // closing, and every step written
      step = writer.slot;
      writer.full = false;
    }
    writer.changed.notify_all();
    std::string error = writer.write(step);
    if (!error.empty()) {
      std::lock_guard<std::mutex> lock(writer.mutex);
      writer.error = std::move(error);
      break;
    }
  }
  {
    std::lock_guard<std::mutex> lock(writer.mutex);
    writer.stopped = true;
  }
  writer.changed.notify_all();
}

// Lets the thread write what it holds, then ends it. Also called by companion::fail.
void stopWriter() {
  {
    std::lock_guard<std::mutex> lock(writer.mutex);
    writer.closing = true;
  }
  writer.changed.notify_all();
  if (writer.thread.joinable()) writer.thread.join();
}

void failOnWriterError() {
  std::string error;
  {
    std::lock_guard<std::mutex> lock(writer.mutex);
    error = writer.error;
  }
  if (!error.empty()) companion::fail(error);  // which stops the thread first
}

}  // namespace

void startWriter(std::function<std::string(const StepData&)> write) {
  writer.write = std::move(write);
  companion::stopBeforeFail(stopWriter);
  writer.thread = std::thread(run);
}

void handOver(const ResultRecord& record, const NodeTable& nodes, const ElementTable& elements) {
  {
    std::unique_lock<std::mutex> lock(writer.mutex);
    writer.changed.wait(lock, [] { return !writer.full || writer.stopped; });
    if (!writer.stopped) {
      StepData& step = writer.slot;
      step.time = record.time();
      for (int i = 0; i < NODE_COUNT; ++i) {
        step.vectors[i][0] = record.vectors[i][0];
        step.vectors[i][1] = record.vectors[i][1];
      }
      step.nodes = nodes;
      step.elements = elements;
      writer.full = true;
    }
  }
  writer.changed.notify_all();
  failOnWriterError();
}

void finishWriter() {
  stopWriter();
  failOnWriterError();
}
