// Output files written in whole blocks, where every failure ends the program naming the file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct OutputFile {
  std::FILE* file = nullptr;
  std::string name;  // the file as the user will find it, for messages
};

// Creates (or truncates) `path`; `name` is what messages call it. Fails naming it.
void openOutput(OutputFile& out, const std::string& path, const std::string& name);

// Writes the whole block or fails naming the file: a full disk shows here or at the close.
void writeOutput(OutputFile& out, const char* data, std::size_t size);
inline void writeOutput(OutputFile& out, const std::string& text) {
  writeOutput(out, text.data(), text.size());
}

// Flushes and closes; a failure to do either is a failed write.
void closeOutput(OutputFile& out);
