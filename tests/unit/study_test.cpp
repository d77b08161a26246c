// A study's runs as the server finds them, and the names a request may give them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scratch.h"
#include "serve/requests.h"
#include "serve/scan.h"

namespace {

using companion::FoundRun;
using companion::StudyScanner;

// Makes the folders of `path` ("a/b/c"), and in the last one the file `file` if given.
void make(const std::string& path, const char* file = nullptr) {
  std::string at;
  for (std::size_t k = 0; k <= path.size(); ++k) {
    if (k == path.size() || path[k] == '/') ::mkdir(at.c_str(), 0755);
    if (k < path.size()) at += path[k];
  }
  if (file != nullptr) std::fclose(std::fopen((path + "/" + file).c_str(), "w"));
}

std::vector<std::string> names(const std::vector<FoundRun>& runs) {
  std::vector<std::string> out;
  for (const FoundRun& run : runs) out.push_back(run.name);
  return out;
}

TEST(Study, ARunIsAFolderOfARunsFilesFoundDownToFourLevels) {
  const ScratchDirectory dir;
  make("study/motion-001", "result.dat");
  make("study/motion-002", "geodata.dat");
  make("study/a/b/c/d", "tridata.dat");     // four levels down: found
  make("study/a/b/c/d/e/f", "result.dat");  // inside a run: not looked for
  make("study/x/y/z/w/v", "result.dat");    // five levels down: not found
  make("study/notes", "readme.txt");        // no run's file: no run
  for (int k = 0; k < 20000; ++k) {         // a folder of tens of thousands: read, not waited on
    std::fclose(std::fopen(("study/notes/" + std::to_string(k)).c_str(), "w"));
  }
  const std::string odd = "study/<b>\"quoted\" 'x'\nline \xff\xfe";
  make(odd, "result.dat");
  make("study/" + std::string(255, 'n'), "result.dat");
  ASSERT_EQ(::symlink("..", "study/a/up"), 0);           // a loop, back to study/
  ASSERT_EQ(::symlink("motion-001", "study/again"), 0);  // the same run by another name: once
  StudyScanner scanner({"study"});
  const std::vector<std::string> found = names(scanner.scan());
  const std::vector<std::string> want = {"<b>\"quoted\" 'x'\nline \xff\xfe", "a/b/c/d",
                                         "motion-001", "motion-002", std::string(255, 'n')};
  EXPECT_EQ(found, want);
  EXPECT_EQ(scanner.takeTroubles(), std::vector<std::string>{});

  // A folder given that is itself a run is named by its own name, and found once.
  StudyScanner one({"study/motion-001/", "study"});
  EXPECT_EQ(names(one.scan()), want);
  EXPECT_EQ(one.takeTroubles(), std::vector<std::string>{});
}

TEST(Study, RunsThatAppearAreFoundOnceAndAnUnreadableFolderIsSaidOnce) {
  const ScratchDirectory dir;
  make("study/motion-001", "result.dat");
  make("study/locked/motion-009", "result.dat");
  ::chmod("study/locked", 0);
  StudyScanner scanner({"study"});
  const bool root = ::geteuid() == 0;  // root reads any folder
  const std::vector<std::string> readable =
      root ? std::vector<std::string>{"locked/motion-009", "motion-001"}
           : std::vector<std::string>{"motion-001"};
  EXPECT_EQ(names(scanner.scan()), readable);
  EXPECT_EQ(scanner.takeTroubles().size(), root ? 0u : 1u);
  make("study/group/motion-002");  // a job's folder before its files
  EXPECT_EQ(names(scanner.scan()), std::vector<std::string>{});
  make("study/group/motion-002", "geodata.dat");
  EXPECT_EQ(names(scanner.scan()), std::vector<std::string>{"group/motion-002"});
  EXPECT_EQ(names(scanner.scan()), std::vector<std::string>{});
  EXPECT_TRUE(scanner.takeTroubles().empty());  // said once
  ::chmod("study/locked", 0755);
}

TEST(Study, ARunsNameInAnAddressIsItsOwnBytes) {
  const std::string odd = "a b/<c>\"d\xff%";
  EXPECT_EQ(companion::encodeName(odd, true), "a%20b/%3Cc%3E%22d%FF%25");
  EXPECT_EQ(companion::encodeName(odd, false), "a%20b%2F%3Cc%3E%22d%FF%25");
  const companion::Access access{"t", "", 8765};
  const auto verdict = [&access](const std::string& target) {
    return companion::checkRequest({"GET", target, "localhost", "", "t"}, access);
  };
  struct Row {
    const char* target;
    companion::Resource resource;
    std::string name;
  };
  using companion::Resource;
  const Row rows[] = {
      {"/r/a%20b/%3Cc%3E%22d%FF%25/", Resource::RunPage, odd},
      {"/r/a%20b/%3Cc%3E%22d%FF%25/run?run=3&from=9", Resource::RunStream, odd},
      {"/r/run/run", Resource::RunStream, "run"},
      {"/r/x/run/", Resource::RunPage, "x/run"},
      {"/r/a%2Fb/", Resource::None, ""},  // an encoded slash
      {"/r/../x/", Resource::None, ""},
      {"/r/a/%2E%2E/b/", Resource::None, ""},
      {"/r//etc/passwd/", Resource::None, ""},
      {"/r/a%2/", Resource::None, ""},
      {"/r/a%00/", Resource::None, ""},
      {"/r/x", Resource::None, ""},
      {"/r/", Resource::None, ""},
      {"/runs", Resource::Runs, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    const companion::Verdict v = verdict(row.target);
    EXPECT_EQ(v.resource, row.resource);
    EXPECT_EQ(v.status, row.resource == Resource::None ? 404 : 200);
    EXPECT_EQ(v.name, row.name);
  }
  const companion::Verdict compared = verdict("/compare?run=a%2Fb&x=1&run=%3Cc%3E");
  EXPECT_EQ(compared.names, (std::vector<std::string>{"a/b", "<c>"}));
  EXPECT_EQ(verdict("/compare?run=a&run=%zz").status, 404);
}

}  // namespace
