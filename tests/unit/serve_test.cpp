// The server's decisions apart from its network: where the records of a growing result file end,
// when a new run begins, and what each request is answered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "scratch.h"
#include "serve/follower.h"
#include "serve/requests.h"

namespace {

using companion::Arrival;
using companion::ResultFollower;

// What the test does to result.dat before the follower looks: nothing; appends; truncates and
// writes; writes a new file and renames it into place; makes it a named pipe; writes into the
// pipe (opening it first); closes the pipe's writer; opens a writer and closes it unused; removes
// it; makes a folder in its place; makes it a link to a path.
enum class Act {
  Look,
  Append,
  Rewrite,
  Replace,
  MakePipe,
  PipeWrite,
  PipeClose,
  EmptyWriter,
  Remove,
  MakeFolder,
  Link
};

struct Step {
  Act act;
  std::string bytes;
  // What the look after it finds.
  bool newRun;
  std::size_t records;
  std::string text;
  bool closed = false;
  const char* trouble = "";  // a part of what it says is wrong, "" for nothing
};

// Text of `size` bytes without white space: no record ever ends in it.
std::string endless(std::size_t size) {
  return std::string(size, '7');
}

struct FollowerCase {
  const char* name;
  std::vector<Step> steps;
};

void writeFile(const char* name, const std::string& bytes, int flags) {
  const int fd = ::open(name, O_WRONLY | O_CREAT | flags, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Records of three fields, so that every kind of cut shows in a few bytes.
TEST(Serve, TheFollowerPassesOnCompleteRecordsAndNoticesNewRuns) {
  const FollowerCase cases[] = {
      {"a record cut inside its last number waits for the rest",
       {{Act::Append, "1 2 3", false, 0, ""},
        {Act::Append, "4", false, 0, ""},
        {Act::Append, "\n", false, 1, "1 2 34\n"}}},
      {"cut between fields, then inside the exponent of a number",
       {{Act::Append, "1 2", false, 0, ""},
        {Act::Append, " 3 1.5e", false, 1, "1 2 3 "},
        {Act::Append, "-3 2 3\n", false, 1, "1.5e-3 2 3\n"}}},
      {"several records in one write, the last one cut short",
       {{Act::Append, "1 2 3\n4 5 6\n7 8", false, 2, "1 2 3\n4 5 6\n"},
        {Act::Append, " 9\t", false, 1, "7 8 9\t"}}},
      {"white space of every kind the reader skips",
       {{Act::Append, "\n\r 1\t2\v3\f", false, 1, "\n\r 1\t2\v3\f"}}},
      {"no file yet: the first one begins the run that waited for it",
       {{Act::Look, "", false, 0, ""}, {Act::Append, "1 2 3\n", false, 1, "1 2 3\n"}}},
      {"truncated below what was read: a new run from its start",
       {{Act::Append, "1 2 3\n4 5", false, 1, "1 2 3\n"},
        {Act::Rewrite, "7 8 9\n", true, 1, "7 8 9\n"},
        {Act::Append, "1 2 3\n", false, 1, "1 2 3\n"}}},
      {"replaced by a new file",
       {{Act::Append, "1 2 3\n4", false, 1, "1 2 3\n"},
        {Act::Replace, "5 6 7 8", true, 1, "5 6 7 "},
        {Act::Append, " 9 1\n", false, 1, "8 9 1\n"}}},
      {"a pipe: its writer's end ends the run with what is left, the next writer begins one",
       {{Act::MakePipe, "", false, 0, ""},
        {Act::PipeWrite, "1 2 3\n4 5", false, 1, "1 2 3\n"},
        {Act::PipeClose, "", false, 0, "4 5", true},
        {Act::Look, "", false, 0, ""},
        {Act::PipeWrite, "6 7 8\n", true, 1, "6 7 8\n"}}},
      {"a writer that writes nothing neither ends a run nor begins one",
       {{Act::MakePipe, "", false, 0, ""},
        {Act::EmptyWriter, "", false, 0, ""},
        {Act::PipeWrite, "1 2 3\n", false, 1, "1 2 3\n"},
        {Act::PipeClose, "", false, 0, "", true},
        {Act::EmptyWriter, "", false, 0, ""},
        {Act::PipeWrite, "4 5 6\n", true, 1, "4 5 6\n"}}},
      {"a record that never ends is given up, and the file passed over until it begins again",
       {{Act::Append, "1 2 3\n" + endless(ResultFollower::recordLimit(3) / 2), false, 1, "1 2 3\n"},
        {Act::Append, endless(ResultFollower::recordLimit(3) / 2 + 10), false, 0, "", true,
         "without the end of a record"},
        {Act::Append, " 4 5 6\n", false, 0, ""},
        {Act::Rewrite, "7 8 9\n", true, 1, "7 8 9\n"}}},
      {"removed, then a folder in its place: said once each; then a file again",
       {{Act::Append, "1 2 3\n", false, 1, "1 2 3\n"},
        {Act::Remove, "", false, 0, "", false, "result.dat: removed"},
        {Act::Look, "", false, 0, ""},
        {Act::MakeFolder, "", false, 0, "", false, "result.dat: is a folder"},
        {Act::Look, "", false, 0, ""},
        {Act::Remove, "", false, 0, "", false, "result.dat: removed"},
        {Act::Append, "4 5 6\n", true, 1, "4 5 6\n"}}},
      {"a file that cannot be read is said once, and read once it can be",
       {{Act::Link, "/proc/self/mem", false, 0, "", false, "Input/output error"},
        {Act::Look, "", false, 0, ""},
        {Act::Replace, "1 2 3\n", false, 1, "1 2 3\n"}}},
  };
  for (const FollowerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDirectory dir;
    companion::FileWatch watch;
    ResultFollower follower(watch, ".", 3);
    int writer = -1;
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
      const Step& step = c.steps[k];
      SCOPED_TRACE("step " + std::to_string(k));
      switch (step.act) {
        case Act::Look: break;
        case Act::Append: writeFile("result.dat", step.bytes, O_APPEND); break;
        case Act::Rewrite: writeFile("result.dat", step.bytes, O_TRUNC); break;
        case Act::Replace:
          writeFile("new.dat", step.bytes, O_TRUNC);
          ASSERT_EQ(std::rename("new.dat", "result.dat"), 0);
          break;
        case Act::MakePipe: ASSERT_EQ(::mkfifo("result.dat", 0644), 0); break;
        case Act::PipeWrite:
          if (writer < 0) writer = ::open("result.dat", O_WRONLY | O_NONBLOCK);
          ASSERT_GE(writer, 0);
          ASSERT_EQ(::write(writer, step.bytes.data(), step.bytes.size()),
                    static_cast<ssize_t>(step.bytes.size()));
          break;
        case Act::PipeClose:
          ::close(writer);
          writer = -1;
          break;
        case Act::EmptyWriter: ::close(::open("result.dat", O_WRONLY | O_NONBLOCK)); break;
        case Act::Remove: ASSERT_EQ(std::remove("result.dat"), 0); break;
        case Act::MakeFolder: ASSERT_EQ(::mkdir("result.dat", 0755), 0); break;
        case Act::Link: ASSERT_EQ(::symlink(step.bytes.c_str(), "result.dat"), 0); break;
      }
      const Arrival got = follower.look();
      EXPECT_EQ(got.newRun, step.newRun);
      EXPECT_EQ(got.records, step.records);
      EXPECT_EQ(got.text, step.text);
      EXPECT_EQ(got.closed, step.closed);
      if (*step.trouble == '\0') {
        EXPECT_EQ(got.trouble, "");
      } else {
        EXPECT_NE(got.trouble.find(step.trouble), std::string::npos) << got.trouble;
      }
    }
    if (writer >= 0) ::close(writer);
  }
}

// The files of /proc say they are empty however much they hold: that is no truncation, and what
// was read of one is not read again as a new run.
TEST(Serve, AFileThatSaysItIsEmptyButHoldsTextIsNoNewRun) {
  const ScratchDirectory dir;
  ASSERT_EQ(::symlink("/proc/version", "result.dat"), 0);
  companion::FileWatch watch;
  ResultFollower follower(watch, ".", 3);
  const Arrival first = follower.look();
  EXPECT_GT(first.records, 0u);
  const Arrival again = follower.look();
  EXPECT_FALSE(again.newRun);
  EXPECT_EQ(again.records, 0u);
}

// The counter passes over whole blocks of bytes at a time: it finds the records where counting
// byte by byte finds them, whatever the bytes (white space and its neighbours in the byte
// table, and those same with the top bit set) and wherever the file is cut.
TEST(Serve, TheRecordCounterFindsWhatCountingByteByByteFinds) {
  const std::string alphabet = " \t\n\v\f\r\x08\x0e\x1f!\xa0\x89\x8dx";
  std::mt19937 random(7);
  for (std::size_t per : {1, 3, 40}) {
    for (int round = 0; round < 40; ++round) {
      std::string text(random() % 4000, ' ');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      std::vector<std::size_t> ends;  // one past the white space after each record
      for (std::size_t k = 0, fields = 0; k < text.size(); ++k) {
        const bool space = std::isspace(static_cast<unsigned char>(text[k])) != 0;
        fields += !space && (k == 0 || std::isspace(static_cast<unsigned char>(text[k - 1])));
        if (space && k > 0 && !std::isspace(static_cast<unsigned char>(text[k - 1])) &&
            fields == per) {
          ends.push_back(k + 1);
          fields = 0;
        }
      }
      companion::RecordCounter counter(per);
      SCOPED_TRACE(text);
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t size = std::min<std::size_t>(1 + random() % 300, text.size() - at);
        std::size_t records = 0;
        const std::size_t end = counter.take(text.data() + at, size, records);
        const auto first = std::lower_bound(ends.begin(), ends.end(), at + 1);
        const auto after = std::upper_bound(ends.begin(), ends.end(), at + size);
        ASSERT_EQ(records, static_cast<std::size_t>(after - first)) << "at " << at;
        ASSERT_EQ(end, records > 0 ? *(after - 1) - at : 0) << "at " << at;
        at += size;
      }
    }
  }
}

}  // namespace

namespace {

using companion::Access;
using companion::checkRequest;
using companion::RequestFacts;
using companion::Resource;
using companion::Verdict;

const std::string TOKEN = "5e3f0a";

struct RequestCase {
  const char* name;
  int access;  // 0: loopback alone; 1: --bind 192.168.1.5; 2: --bind 0.0.0.0
  RequestFacts request;
  int status;
  Resource resource;
  bool setCookie = false;
  bool resume = false;
  std::uint32_t run = 0;
  long from = 0;
};

TEST(Serve, EachRequestIsCheckedForItsHostMethodPathAndToken) {
  const Access accesses[] = {
      {TOKEN, "", 8765}, {TOKEN, "192.168.1.5", 8765}, {TOKEN, "0.0.0.0", 8765}};
  const std::string query = "/?token=" + TOKEN;
  const std::string cookie = "meshplay-8000=" + TOKEN;
  const RequestCase cases[] = {
      {"the printed address sets the cookie",
       0,
       {"GET", query, "127.0.0.1:8765"},
       200,
       Resource::Page,
       true},
      {"the page's own request carries the cookie of the port it sees",
       0,
       {"GET", "/run", "localhost:8000", "a=1; " + cookie},
       200,
       Resource::Run},
      {"a script's request the header",
       0,
       {"GET", "/run", "[::1]:8765", "", TOKEN},
       200,
       Resource::Run},
      {"a Host without a port: the server's own cookie",
       0,
       {"HEAD", "/", "LOCALHOST", "meshplay-8765=" + TOKEN},
       200,
       Resource::Page},
      {"another port's cookie is not looked at",
       0,
       {"GET", "/run", "localhost:8001", cookie},
       401,
       Resource::None},
      {"a stale cookie does not spoil a right token",
       0,
       {"GET", query, "127.0.0.1:8000", "meshplay-8000=old"},
       200,
       Resource::Page,
       true},
      {"no token", 0, {"GET", "/", "127.0.0.1:8765"}, 401, Resource::None},
      {"a wrong token", 0, {"GET", "/?token=5e3f0b", "127.0.0.1:8765"}, 403, Resource::None},
      {"the token's beginning", 0, {"GET", "/?token=5e3f0", "127.0.0.1:8765"}, 403, Resource::None},
      {"wrong in its first character alone",
       0,
       {"GET", "/?token=4e3f0a", "127.0.0.1:8765"},
       403,
       Resource::None},
      {"a wrong header",
       0,
       {"GET", "/run", "127.0.0.1:8765", "", "x" + TOKEN},
       403,
       Resource::None},
      {"any loopback address", 0, {"GET", query, "127.3.2.1:1"}, 200, Resource::Page, true},
      {"IPv4's loopback written as IPv6",
       0,
       {"GET", query, "[::ffff:127.0.0.1]:8765"},
       200,
       Resource::Page,
       true},
      {"two Host headers, even both right",
       0,
       {"GET", query, "127.0.0.1:8765", "", "", 2},
       400,
       Resource::None},
      {"a DNS name, even with the token",
       0,
       {"GET", query, "evil.example:8765"},
       403,
       Resource::None},
      {"a name that starts as localhost",
       0,
       {"GET", query, "localhost.evil.example"},
       403,
       Resource::None},
      {"no Host", 0, {"GET", query, ""}, 403, Resource::None},
      {"a port that is no number", 0, {"GET", query, "127.0.0.1:80:80"}, 403, Resource::None},
      {"more after a bracketed address", 0, {"GET", query, "[::1]x:80"}, 403, Resource::None},
      {"another address", 0, {"GET", query, "192.168.1.5:8765"}, 403, Resource::None},
      {"the --bind address", 1, {"GET", query, "192.168.1.5:8765"}, 200, Resource::Page, true},
      {"not the --bind address", 1, {"GET", query, "192.168.1.6:8765"}, 403, Resource::None},
      {"every address bound: any address",
       2,
       {"GET", query, "10.0.0.8:8765"},
       200,
       Resource::Page,
       true},
      {"every address bound: still no name", 2, {"GET", query, "myhost:8765"}, 403, Resource::None},
      {"POST", 0, {"POST", query, "localhost:8765"}, 405, Resource::None},
      {"OPTIONS, even without a token",
       0,
       {"OPTIONS", "/run", "localhost:8765"},
       405,
       Resource::None},
      {"a file's path",
       0,
       {"GET", "/geodata.dat?token=" + TOKEN, "localhost:8765"},
       404,
       Resource::None},
      {"a path up and out", 0, {"GET", "/../result.dat", "localhost:8765"}, 404, Resource::None},
      {"/run/ is not /run", 0, {"GET", "/run/", "localhost", "", TOKEN}, 404, Resource::None},
      {"a reconnection",
       0,
       {"GET", "/run?run=4294967295&from=12", "localhost", "", TOKEN},
       200,
       Resource::Run,
       false,
       true,
       4294967295u,
       12},
      {"a run beyond 32 bits is no reconnection",
       0,
       {"GET", "/run?from=3&run=4294967296", "localhost", "", TOKEN},
       200,
       Resource::Run},
      {"a reconnection needs both",
       0,
       {"GET", "/run?run=7", "localhost", "", TOKEN},
       200,
       Resource::Run},
      {"a step below zero",
       0,
       {"GET", "/run?run=7&from=-1", "localhost", "", TOKEN},
       200,
       Resource::Run},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Verdict v = checkRequest(c.request, accesses[c.access]);
    EXPECT_EQ(v.status, c.status);
    EXPECT_EQ(v.resource, c.resource);
    EXPECT_EQ(v.setCookie, c.setCookie);
    EXPECT_EQ(v.resume, c.resume);
    EXPECT_EQ(v.run, c.run);
    EXPECT_EQ(v.from, c.from);
  }
}

}  // namespace
