// Deterministic input files for the benchmarks, laid out as a simulation writes them.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// The rest grid, one "%d %.6e %.6e" node record per line, and its two triangles per cell.
bool writeNodeFile(const std::string& path);
bool writeElementFile(const std::string& path);

// Times step by 0.01 s and start again from 0 after 1000 records, so they stay below the end time
// of either profile and a replay runs until the data end.
inline constexpr long DISTINCT_RECORDS = 1000;

// Result records, every value "% .6e" (13 characters), the header values on one line and then two
// values a line: a profile-B record is about 44 KB of text. All records have the same length.
bool writeResultFile(const std::string& path, long records);

// Bytes of text of one record.
std::size_t recordBytes();

// A fresh folder under the system's temporary folder, holding the three files with `records`
// result records; removeFolder deletes it with everything in it.
std::string makeDataFolder(long records);
void removeFolder(const std::string& folder);

}  // namespace bench
