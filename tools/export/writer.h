// Writing beside reading: each time step's output is written by a thread of its own while the main
// thread reads the next record through the viewer's replay, so that with two cores an export runs
// at about the pace of reading alone. One step waits between them, so memory stays constant.
#pragma once

#include <functional>
#include <string>

#include "model/tables.h"

// What a time step's output is made of, copied out of the viewer's state, which the next record
// overwrites.
struct StepData {
  double time = 0.0;
  double vectors[NODE_COUNT][2] = {};  // displacement (dx, dy) of each node
  NodeTable nodes{};
  ElementTable elements{};
};

// Starts the writing thread, which calls `write` for each step handed over, in order. `write`
// returns what went wrong ("<file>: <reason>"), or nothing; after a failure the thread stops.
// Only one writer exists at a time; companion::fail stops it before it removes the output.
void startWriter(std::function<std::string(const StepData&)> write);

// Hands over the record the viewer shows and its tables, once the writer has taken the previous
// step. Fails with the writer's message if it has failed.
void handOver(const ResultRecord& record, const NodeTable& nodes, const ElementTable& elements);

// Waits until every step handed over is written and ends the thread; fails with the writer's
// message if it has failed.
void finishWriter();
