// The companions' one command line: what each argument list gives, or its one message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/failure.h"

namespace {

using companion::Request;

struct Values {
  long every = 1;
  double from = -1e9, speed = 1.0;
  std::string title;
  bool speedGiven = false;
};

companion::CommandLine commandLine(Values& v) {
  return {
      "OUTPUT",
      true,
      "NAME.msh",
      "Writes things.",
      {{"every", "N", "every N-th step", "a whole number from 1 to 1000000000", &v.every, 1, 1e9},
       {"from", "T", "from T", "a time in seconds", &v.from},
       {"speed", "X", "speed", "a number from 1e-06 to 1e+06", &v.speed, 1e-6, 1e6, &v.speedGiven},
       {"title", "TEXT", "the title", "a text", &v.title}}};
}

TEST(CommandLine, ReadsAsLinuxToolsDoAndSaysWhatIsWrongInOneMessage) {
  const struct {
    std::vector<const char*> args;
    Request request;
    const char* operand;  // or, when the request is Run and this is null, `message` is thrown
    const char* message;
    long every = 1;
    double from = -1e9;
    bool speedGiven = false;
  } rows[] = {
      // clang-format off
      {{"out.msh"}, Request::Run, "out.msh", "", 1, -1e9, false},
      {{"--every", "5", "out.msh", "--from=-1.5", "--speed", "2", "--title", "--x"},
       Request::Run, "out.msh", "", 5, -1.5, true},
      {{"--", "-out.msh"}, Request::Run, "-out.msh", "", 1, -1e9, false},
      {{"out", "--every=0", "--help"}, Request::Run, nullptr,
       "invalid value '0' for --every: expected a whole number from 1 to 1000000000"},
      {{"out", "--help", "--bogus"}, Request::Help, "", "", 1, -1e9, false},
      {{"--version", "a", "b"}, Request::Version, "", "", 1, -1e9, false},
      {{"--ev", "5", "x"}, Request::Run, nullptr, "unknown option '--ev'; see --help"},
      {{"--every=5x", "x"}, Request::Run, nullptr,
       "invalid value '5x' for --every: expected a whole number from 1 to 1000000000"},
      {{"x", "--every"}, Request::Run, nullptr,
       "option --every needs a value: a whole number from 1 to 1000000000"},
      {{"--from", "nan", "x"}, Request::Run, nullptr,
       "invalid value 'nan' for --from: expected a time in seconds"},
      {{"--speed=1e-7", "x"}, Request::Run, nullptr,
       "invalid value '1e-7' for --speed: expected a number from 1e-06 to 1e+06"},
      {{"-x", "out"}, Request::Run, nullptr, "unknown option '-x'; see --help"},
      {{"--help=1"}, Request::Run, nullptr, "unknown option '--help'; see --help"},
      {{}, Request::Run, nullptr, "expected OUTPUT, NAME.msh; see --help"},
      {{"a", "b"}, Request::Run, nullptr, "more than one OUTPUT: 'a' and 'b'; see --help"},
      // clang-format on
  };
  for (const auto& row : rows) {
    std::vector<char*> argv = {const_cast<char*>("prog")};
    std::string trace;
    for (const char* a : row.args) {
      argv.push_back(const_cast<char*>(a));
      trace += std::string(" ") + a;
    }
    SCOPED_TRACE("prog" + trace);
    argv.push_back(nullptr);
    Values v;
    std::string operand = "unset";
    try {
      const Request got = companion::parseCommandLine(
          commandLine(v), static_cast<int>(argv.size() - 1), argv.data(), operand);
      ASSERT_NE(row.operand, nullptr) << "no failure";
      EXPECT_EQ(got, row.request);
      EXPECT_EQ(operand, got == Request::Run ? row.operand : "unset");
      EXPECT_EQ(v.every, row.every);
      EXPECT_EQ(v.from, row.from);
      EXPECT_EQ(v.speedGiven, row.speedGiven);
    } catch (const companion::Failure& failure) {
      EXPECT_EQ(row.operand, nullptr);
      EXPECT_STREQ(failure.what(), row.message);
    }
  }
}

}  // namespace
