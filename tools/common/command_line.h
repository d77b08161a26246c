// The one command line of every companion: one operand (OUTPUT, FOLDER) and options, read with
// the C library's getopt_long, so that it behaves as the Linux tools around it do: options before
// or after the operand, "--every 5" or "--every=5", "--" before an operand that starts with a dash.
// Unlike getopt_long alone it takes no abbreviations: "--ev" is an unknown option, not "--every",
// so that a script never depends on which options happen to exist.
#pragma once

#include <limits>
#include <string>
#include <variant>
#include <vector>

namespace companion {

// An option that takes a value: a whole number (long) or a finite number (double) between min
// and max, or a text.
struct Option {
  const char* name;      // "--" and this
  const char* value;     // the value's name in the usage: "N", "T"
  const char* help;      // its line in --help, after "--name VALUE"
  const char* expected;  // what a valid value is, for messages: "a whole number from 1 to 10"
  std::variant<long*, double*, std::string*> target;
  double min = -std::numeric_limits<double>::infinity();
  double max = std::numeric_limits<double>::infinity();
  bool* given = nullptr;  // set to true when the option is given
};

struct CommandLine {
  const char* operand;      // "OUTPUT"; nullptr for a program that takes none
  bool operandRequired;     // else optional: "[FOLDER]"
  const char* operandHelp;  // what it is, for the message when it is missing
  const char* description;  // the text of --help between the usage line and the options
  std::vector<Option> options;
  // Operands after the first, where a program takes any number ("FOLDER": "OUTPUT [FOLDER ...]",
  // or "[FOLDER ...]" when the first is an optional FOLDER too), and where they go.
  const char* more = nullptr;
  std::vector<std::string>* moreTarget = nullptr;
};

enum class Request { Run, Help, Version };

// Reads argv[1 ...] as `cli` says, storing each option's value in its target as it comes. Returns
// Help or Version at the first -h/--help or --version, Run once everything is read, with the
// operand (or "") in `operand`. Throws Failure, naming the option, the value and what is
// expected, at the first mistake.
Request parseCommandLine(const CommandLine& cli, int argc, char** argv, std::string& operand);

// The text of --help for the program `name`.
std::string usage(const CommandLine& cli, const std::string& name);

}  // namespace companion
