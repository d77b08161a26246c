// Finding a study's runs.
#include "serve/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/failure.h"

namespace companion {

namespace {

// The names whose presence makes a folder a run.
bool isRunFile(const char* name) {
  return std::strcmp(name, "geodata.dat") == 0 || std::strcmp(name, "tridata.dat") == 0 ||
         std::strcmp(name, "result.dat") == 0;
}

// The last part of a path, without the slashes after it: "study/" gives "study".
std::string lastPart(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

StudyScanner::StudyScanner(std::vector<std::string> roots) : roots_(std::move(roots)) {}

std::vector<FoundRun> StudyScanner::scan() {
  std::vector<FoundRun> added;
  seen_.clear();  // a folder is looked into once a scan, whichever of the folders given leads there
  for (const std::string& root : roots_) look(root, "", 0, added);
  std::sort(added.begin(), added.end(),
            [](const FoundRun& a, const FoundRun& b) { return a.name < b.name; });
  return added;
}

std::vector<std::string> StudyScanner::takeTroubles() {
  return std::exchange(troubles_, {});
}

// Reads the folder at `path` into `folder`; false, said once, when it cannot be read.
bool StudyScanner::read(const std::string& path, Folder& folder) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    const std::string trouble = systemFailure(path, errno).what();
    if (std::find(said_.begin(), said_.end(), trouble) == said_.end()) {
      said_.push_back(trouble);
      troubles_.push_back(trouble);
    }
    return false;
  }
  folder.run = false;
  folder.folders.clear();
  std::vector<std::string> links;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (isRunFile(name)) folder.run = true;
    unsigned char type = entry->d_type;
    struct stat info {};
    if (type == DT_UNKNOWN && ::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
      type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
    }
    if (type == DT_DIR) folder.folders.emplace_back(name);
    if (type == DT_LNK && ::fstatat(::dirfd(dir), name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
      links.emplace_back(name);
    }
  }
  ::closedir(dir);
  std::sort(folder.folders.begin(), folder.folders.end());
  std::sort(links.begin(), links.end());
  folder.folders.insert(folder.folders.end(), links.begin(), links.end());
  return true;
}

void StudyScanner::look(const std::string& path, const std::string& name, int depth,
                        std::vector<FoundRun>& added) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
  const std::pair<dev_t, ino_t> identity{info.st_dev, info.st_ino};
  if (std::find(seen_.begin(), seen_.end(), identity) != seen_.end()) return;  // a loop
  seen_.push_back(identity);
  Folder& folder = folders_[path];
  const bool changed = folder.modified.tv_sec != info.st_mtim.tv_sec ||
                       folder.modified.tv_nsec != info.st_mtim.tv_nsec;
  if (changed) {
    if (!read(path, folder)) return;
    folder.modified = info.st_mtim;
  }
  if (folder.run) {
    const std::string runName = name.empty() ? lastPart(path) : name;
    const auto [at, isNew] = found_.emplace(runName, path);
    if (isNew) {
      added.push_back({runName, path});
    } else if (at->second != path && std::find(said_.begin(), said_.end(), path) == said_.end()) {
      said_.push_back(path);
      troubles_.push_back(path + ": a run named " + runName + " was found first at " + at->second +
                          "; this one is not listed");
    }
    return;
  }
  if (depth >= DEPTH) return;
  for (const std::string& child : folder.folders) {
    look(path + "/" + child, name.empty() ? child : name + "/" + child, depth + 1, added);
  }
}

}  // namespace companion
