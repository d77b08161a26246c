// The companions' command line on getopt_long.
#include "common/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/failure.h"

namespace companion {

namespace {

constexpr int HELP = 'h';
constexpr int VERSION = 1;
constexpr int FIRST_OPTION = 2;  // cli.options[i] is returned as FIRST_OPTION + i

Failure invalid(const Option& o, const char* text) {
  return Failure(std::string("invalid value '") + text + "' for --" + o.name + ": expected " +
                 o.expected);
}

// Converts and checks one value, and stores it.
void store(const Option& o, const char* text) {
  char* stop = nullptr;
  errno = 0;
  if (long* const* whole = std::get_if<long*>(&o.target)) {
    const long v = std::strtol(text, &stop, 10);
    const double d = static_cast<double>(v);
    if (stop == text || *stop != '\0' || errno != 0 || d < o.min || d > o.max) {
      throw invalid(o, text);
    }
    **whole = v;
  } else if (double* const* real = std::get_if<double*>(&o.target)) {
    const double v = std::strtod(text, &stop);
    if (stop == text || *stop != '\0' || !std::isfinite(v) || v < o.min || v > o.max) {
      throw invalid(o, text);
    }
    **real = v;
  } else {
    *std::get<std::string*>(o.target) = text;
  }
  if (o.given != nullptr) *o.given = true;
}

// The argument that named the option just returned: the one before the value if the value came
// as an argument of its own, else the last one read ("--name", "--name=value", "-h").
const char* optionWord(char** argv) {
  return optarg != nullptr && optarg == argv[optind - 1] ? argv[optind - 2] : argv[optind - 1];
}

// Whether `word` names `name` in full: getopt_long also takes any unambiguous beginning.
bool namesInFull(const char* word, const char* name) {
  if (std::strncmp(word, "--", 2) != 0) return true;  // a short option: -h
  const std::size_t length = std::strcspn(word + 2, "=");
  return length == std::strlen(name) && std::strncmp(word + 2, name, length) == 0;
}

std::string unknown(const char* word) {
  std::string w = word;
  if (w.rfind("--", 0) == 0) w = w.substr(0, w.find('='));
  return "unknown option '" + w + "'; see --help";
}

}  // namespace

Request parseCommandLine(const CommandLine& cli, int argc, char** argv, std::string& operand) {
  std::vector<option> longOptions;
  for (std::size_t i = 0; i < cli.options.size(); ++i) {
    longOptions.push_back(
        {cli.options[i].name, required_argument, nullptr, FIRST_OPTION + static_cast<int>(i)});
  }
  longOptions.push_back({"help", no_argument, nullptr, HELP});
  longOptions.push_back({"version", no_argument, nullptr, VERSION});
  longOptions.push_back({nullptr, 0, nullptr, 0});

  // ':' first: a missing value is told apart from an unknown option; opterr 0: messages are ours.
  opterr = 0;
  optind = 0;  // a fresh scan, also when called more than once (the unit tests)
  for (int c, index = -1; (c = getopt_long(argc, argv, ":h", longOptions.data(), &index)) != -1;
       index = -1) {
    const char* word = optionWord(argv);
    if (c == ':') {
      if (optopt < FIRST_OPTION) throw Failure(unknown(word));
      const Option& o = cli.options[static_cast<std::size_t>(optopt - FIRST_OPTION)];
      throw Failure(std::string("option --") + o.name + " needs a value: " + o.expected);
    }
    if (c == '?' || (index >= 0 && !namesInFull(word, longOptions[index].name))) {
      throw Failure(c == '?' && optopt != 0 && word[1] != '-'
                        ? std::string("unknown option '-") + static_cast<char>(optopt) +
                              "'; see --help"
                        : unknown(word));
    }
    if (c == HELP) return Request::Help;
    if (c == VERSION) return Request::Version;
    store(cli.options[static_cast<std::size_t>(c - FIRST_OPTION)], optarg);
  }
  operand.clear();
  if (cli.operand == nullptr && argc - optind > 0) {
    throw Failure(std::string("unexpected argument '") + argv[optind] + "'; see --help");
  }
  if (argc - optind > 1 && cli.more == nullptr) {
    throw Failure(std::string("more than one ") + cli.operand + ": '" + argv[optind] + "' and '" +
                  argv[optind + 1] + "'; see --help");
  }
  if (argc - optind >= 1) operand = argv[optind];
  if (cli.moreTarget != nullptr) {
    cli.moreTarget->clear();
    for (int k = optind + 1; k < argc; ++k) cli.moreTarget->emplace_back(argv[k]);
  }
  if (operand.empty() && cli.operandRequired) {
    throw Failure(std::string("expected ") + cli.operand + ", " + cli.operandHelp + "; see --help");
  }
  return Request::Run;
}

std::string usage(const CommandLine& cli, const std::string& name) {
  std::string text = "usage: " + name;
  const bool onlyMore =
      cli.more != nullptr && !cli.operandRequired && std::string(cli.more) == cli.operand;
  if (cli.operand != nullptr && !onlyMore) {
    text += cli.operandRequired ? " " + std::string(cli.operand)
                                : " [" + std::string(cli.operand) + "]";
  }
  if (cli.more != nullptr) text += " [" + std::string(cli.more) + " ...]";
  for (const Option& o : cli.options) text += std::string(" [--") + o.name + " " + o.value + "]";
  text += std::string("\n") + cli.description + "\nOptions:\n";
  auto line = [&text](const std::string& left, const char* help) {
    text += "  " + left + std::string(left.size() < 14 ? 14 - left.size() : 1, ' ') + help + "\n";
  };
  for (const Option& o : cli.options) line(std::string("--") + o.name + " " + o.value, o.help);
  line("-h, --help", "show this help and exit");
  line("--version", "show the version and exit");
  return text;
}

}  // namespace companion
