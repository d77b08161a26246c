// What the companion programs (recorder, exporter) share: the conventions of a Linux command-line
// tool, the viewer's run stepped record by record through the viewer's own frame cycle, output that
// appears complete or not at all, and a progress line on a terminal.
#pragma once

#include <limits>
#include <string>

namespace companion {

// Names the program in every message (the last part of argv[0]), and turns SIGINT, SIGTERM and
// SIGHUP into a clean failure at the next record: temporary output is removed, the exit status 1.
void start(const char* argv0);
const std::string& programName();

// "<program>: <message>" on stderr; removes every temporary output; exit status 1.
[[noreturn]] void fail(const std::string& message);

// Runs `cleanup` when the program ends without committing its output (fail(), or an exit from a
// library), before the temporary output is removed: a child process still writing into it is to
// be stopped first. Cleanups run once, the last registered first.
void atFailure(void (*cleanup)());

// "<program> <version>" on stdout, for --version.
void printVersion();

// Option values. Each fails naming the option and the value when the text is not a number of its
// kind, or lies outside [min, max].
long parseCount(const std::string& option, const char* text, long min, long max);
double parseTime(const std::string& option, const char* text);

// The cut of the run by --from and --to, in the result file's time (seconds), ends included.
struct TimeRange {
  double from = -std::numeric_limits<double>::infinity();
  double to = std::numeric_limits<double>::infinity();
};

// Opens the viewer's three input files in the working directory, as the viewer does at start-up.
// Fails naming the first file that is missing, unreadable or not a file. The viewer's own console
// lines (progress, end of run) are silenced: a companion reports on stderr.
void openRun();

// Steps the viewer's frame cycle to the next record of its run within `range` and returns true:
// the record is state.shownRecord, the node and element tables are those the viewer holds at that
// frame. Returns false once the run has ended, at the end time or the end of the data as in the
// viewer, or beyond range.to. The step that finds the end of the data has no record of its own and
// is never returned; a record whose time is not a number ends the run and is returned, as the
// viewer still draws it.
bool nextRecord(const TimeRange& range);

// Records read so far by nextRecord, and the share of the result file consumed, 0 ... 1.
long recordsRead();
double fractionRead();

// Writes "<program>: <done> <unit>, <rate> <unit>/s, about <s> s left" on stderr, rewritten in
// place at most ten times a second, and only when stderr is a terminal. progressDone ends the line.
void progress(long done, const char* unit);
void progressDone();

// A path beside `finalPath` (same folder, so a rename moves it) under which output is written until
// it is complete. It is removed, with everything in it, by fail() or if commit is never reached.
std::string temporaryPath(const std::string& finalPath);

// Renames the temporary output to its final name; fails naming the path when it cannot.
void commit(const std::string& temporary, const std::string& finalPath);

}  // namespace companion
