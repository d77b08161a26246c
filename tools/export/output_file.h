// Output files written in whole blocks. A failure is kept, naming the file, and reported by the
// caller; once a file has failed, nothing more is written to it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct OutputFile {
  std::FILE* file = nullptr;
  std::string name;   // the file as the user will find it, for messages
  std::string error;  // "<name>: <reason>" of the first failure; empty while all went well
};

// Creates (or truncates) `path`; `name` is what messages call it.
void openOutput(OutputFile& out, const std::string& path, const std::string& name);

// Writes the whole block: a full disk shows here or at the close.
void writeOutput(OutputFile& out, const char* data, std::size_t size);
inline void writeOutput(OutputFile& out, const std::string& text) {
  writeOutput(out, text.data(), text.size());
}

// Flushes and closes; a failure to do either is a failed write.
void closeOutput(OutputFile& out);

// Ends the program with the file's failure, if it has one.
void failOnError(const OutputFile& out);
