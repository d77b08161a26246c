// Output names.
#include "common/output_path.h"

#include <filesystem>
#include <system_error>

#include "common/failure.h"

namespace companion {

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

const std::string& refuseFolder(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw Failure(path + ": is a folder");
  return path;
}

}  // namespace companion
