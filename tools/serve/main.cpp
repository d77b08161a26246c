// meshplay-a-serve, meshplay-b-serve, ...: the run a solver is writing, followed record by record
// as the viewer replays it and pushed to every browser that opens the printed address, in the
// player of the web page.
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/program.h"
#include "player/profile_facts.h"
#include "model/profile.h"
#include "run/run.h"
#include "serve/serve.h"

namespace {

using namespace companion;

struct ServeOptions {
  long port = DEFAULT_PORT;
  bool portGiven = false;
  std::string bind;
  long every = 1;
  TimeRange range;
  std::string title;
  std::vector<std::string> folders;  // after the first
};

CommandLine commandLine(ServeOptions& o) {
  CommandLine cli{
      "FOLDER",
      false,
      "",
      "Follows result.dat in the current folder as a solver writes it, with geodata.dat and\n"
      "tridata.dat, and serves the run as " MESHPLAY_VIEWER
      " replays it to web browsers, live, in the player\n"
      "of " MESHPLAY_VIEWER
      "-html: each time step appears as soon as its record is complete. Given FOLDERs, serves\n"
      "a study: every run folder in them or below them (four levels down), listed in an index\n"
      "as they appear, each with its live page, and compared side by side. Prints the address\n"
      "to open, with its token; Ctrl-C stops it. See man " MESHPLAY_VIEWER "-serve.",
      {},
      "FOLDER",
      &o.folders};
  cli.options.push_back({"port", "N",
                         "listen on port N (default 8765, or the next free one); 0: any free port",
                         "a port number from 0 to 65535", &o.port, 0, 65535, &o.portGiven});
  cli.options.push_back({"bind", "ADDRESS",
                         "listen on ADDRESS, 0.0.0.0 for all (default: 127.0.0.1 alone)",
                         "an IP address", &o.bind});
  for (const Option& cut : cutOptions(o.every, o.range)) cli.options.push_back(cut);
  cli.options.push_back({"title", "TEXT",
                         "the page's title (default: the folder's name and the program's)",
                         "a text", &o.title});
  return cli;
}

// The run of a folder as the viewer replays it, from the records the server hands over.
class LiveRun : public StepSource {
 public:
  LiveRun(const Program& program, const ServeOptions& options, std::string folder)
      : program_(program), options_(options), folder_(std::move(folder)) {}

  void restart() override {
    run_ = std::make_unique<Run>(program_, options_.range, Run::FedRecords{}, folder_);
    cut_ = EveryNth(options_.every);
  }

  bool take(const Arrival& arrival, const Sink& sink) override {
    run_->feed(arrival.text.data(), arrival.text.size());
    const bool ended = advance(arrival, sink);
    run_->endFeed();
    return ended;
  }

 private:
  // After a pipe's end, to the end of the data, a record cut short included.
  bool advance(const Arrival& arrival, const Sink& sink) {
    for (std::size_t k = 0; k < arrival.records || arrival.closed; ++k) {
      const Run::Step step = run_->advance();
      if (step == Run::Step::Shown) cut_.shown(*run_, sink);
      if (step == Run::Step::Ended || run_->ended()) {
        cut_.ended(sink);
        return true;
      }
    }
    return false;
  }

  const Program& program_;
  const ServeOptions& options_;
  std::string folder_;
  std::unique_ptr<Run> run_;
  EveryNth cut_{1};
};

void serveRuns(const Program& program, const std::string& first, const ServeOptions& o) {
  checkRange(o.range);
  std::error_code ec;
  const std::string folder = std::filesystem::current_path(ec).filename().string();
  ServeSettings settings;
  if (!first.empty()) settings.folders.push_back(first);
  settings.folders.insert(settings.folders.end(), o.folders.begin(), o.folders.end());
  settings.port = o.port;
  settings.portGiven = o.portGiven;
  settings.bind = o.bind;
  // A study's index is named by its folders, the one run's page by the working folder.
  std::string named = folder;
  if (!settings.folders.empty()) {
    named.clear();
    for (const std::string& f : settings.folders) named += (named.empty() ? "" : ", ") + f;
  }
  settings.facts = {o.title.empty() ? named + " \u2014 " MESHPLAY_VIEWER : o.title, MESHPLAY_VIEWER,
                    profileFacts(), 0};
  settings.encoding.row = static_cast<std::size_t>(NX) + 1;
  settings.fieldsPerRecord = RECORD_VALUES;
  settings.source = [&program, &o](const std::string& runFolder) {
    return std::make_unique<LiveRun>(program, o, runFolder);
  };
  settings.endsRun = [](double t, bool read) { return runHasEnded(t, read, false); };
  serve(program, settings);
}

}  // namespace

int main(int argc, char** argv) {
  ServeOptions options;
  return runProgram(argc, argv, commandLine(options),
                    [&options](const Program& program, const std::string& folder) {
                      serveRuns(program, folder, options);
                    });
}
