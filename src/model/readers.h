// The three readers the frame cycle calls on every frame.
//
// Each reads one block in file order with the scans of model/scanner.h. A field that fails keeps
// its destination's value, and since a failing scan consumes nothing, every later field of the
// block fails at the same place: a reader stops there and leaves the stream where the failure is.
// An exhausted, malformed or absent stream therefore changes nothing, and costs almost nothing.
// Nothing is allocated; no reader prints anything or checks counts or ranges.
#pragma once

#include "model/input_stream.h"
#include "model/tables.h"

// One result record: the header values, then the vector block pair by pair, then the base block.
// If the time cannot be read, returns false and leaves `record` as it was, so the caller can go on
// showing the last record it had. Otherwise returns true and writes every value of `record`: what
// was read, and zero from the first field that failed onwards (a truncated last record).
bool readResultRecord(InputStream& s, ResultRecord& record);

// NODE_COUNT node records "%d%lf%lf": the node number is read and ignored, x and y go to the table.
// Returns how many complete records were read, for programs that say when a file held none.
int readNodeBlock(InputStream& s, NodeTable& table);

// ELEMENT_COUNT element records "%d%d%d%d": the element number is ignored, then the three indices.
// Returns how many complete records were read.
int readElementBlock(InputStream& s, ElementTable& table);
