// What an output's name tells before anything is written: its kind, by the extension, and whether
// a folder stands where the file is to go.
#pragma once

#include <string>

namespace companion {

// The extension of the last part of `path`, with its dot, in lower case: ".msh" for "RUN.MSH",
// "" for "frames/". Companions match it in any case.
std::string lowerExtension(const std::string& path);

// Returns `path`; throws "<path>: is a folder" when a folder stands there, so that an output file
// that could never take its name is refused before anything is read.
const std::string& refuseFolder(const std::string& path);

}  // namespace companion
