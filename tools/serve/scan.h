// Finding a study's runs: the folders under the ones given that hold a run's files, looked for
// again every so often as jobs start and make new ones.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <utility>
#include <string>
#include <vector>

namespace companion {

// A run's folder as the scan found it.
struct FoundRun {
  std::string name;  // its path below the folder given ("motion-017", "a/b"), or that folder's own
                     // name when it is the run
  std::string path;  // where it is: the folder given, then the name below it
};

// The runs under some folders. A folder that holds geodata.dat, tridata.dat or result.dat is a
// run, and is not looked into; any other is looked into down to DEPTH levels below the one given.
// A folder is read again only when it has changed (its modification time); each is read once,
// whatever links lead to it, so that a link back up never loops; a folder that cannot be read is
// passed over and said once.
class StudyScanner {
 public:
  static constexpr int DEPTH = 4;

  explicit StudyScanner(std::vector<std::string> roots);

  // Looks again; returns the runs found this time that were not before, in name order. A run
  // stays found even if its folder goes: its page then says what is wrong with its files.
  std::vector<FoundRun> scan();

  // Folders that could not be read, each said once ("a/b: Permission denied").
  std::vector<std::string> takeTroubles();

  std::size_t runs() const { return found_.size(); }

 private:
  // What a reading of a folder found, kept until it changes.
  struct Folder {
    struct timespec modified {};
    bool run = false;
    // The folders in it, in name order, and then the links to folders: a run met by its own
    // folder and by a link is named by its folder.
    std::vector<std::string> folders;
  };

  void look(const std::string& path, const std::string& name, int depth,
            std::vector<FoundRun>& added);
  bool read(const std::string& path, Folder& folder);

  std::vector<std::string> roots_;
  std::map<std::string, Folder> folders_;     // by path
  std::map<std::string, std::string> found_;  // the runs' names and their paths
  std::vector<std::string> troubles_, said_;
  std::vector<std::pair<dev_t, ino_t>> seen_;  // the folders of this look, against loops
};

}  // namespace companion
