// meshplay-a-html, meshplay-b-html, ...: the viewer's run, record by record as the viewer replays
// it, in one web page that plays it in a browser, offline, drawn as the viewer draws it.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/output_path.h"
#include "common/program.h"
#include "common/progress.h"
#include "html/page.h"
#include "player/profile_facts.h"
#include "model/profile.h"
#include "run/run.h"

namespace {

using namespace companion;

// Beyond this a page is slow to open, and some browsers refuse it.
constexpr long long LARGE_PAGE = 100LL * 1000 * 1000;

struct HtmlOptions {
  long every = 1;
  TimeRange range;
  std::string title;
  long digits = 0;
  std::vector<std::string> folders;  // a comparison's runs, or another folder's one run
};

// A comparison shows two to six runs.
constexpr std::size_t MOST_COMPARED = 6;

CommandLine commandLine(HtmlOptions& o) {
  CommandLine cli{
      "OUTPUT",
      true,
      "NAME.html",
      "Writes the run of geodata.dat, tridata.dat and result.dat in the current folder, "
      "as " MESHPLAY_VIEWER
      "\nreplays it, into one web page that plays it in a browser, with nothing else needed:\n"
      "the mesh, every time step's displacements (compressed) and the player. Given two to\n"
      "six FOLDERs, the runs in them side by side, in one model time; given one, its run. See\n"
      "man " MESHPLAY_VIEWER "-html.",
      cutOptions(o.every, o.range),
      "FOLDER",
      &o.folders};
  cli.options.push_back({"title", "TEXT",
                         "the page's title (default: the folder's name and the program's)",
                         "a text", &o.title});
  cli.options.push_back({"digits", "N",
                         "keep N significant digits of the largest displacement, for a smaller "
                         "page (default: every value exact)",
                         "a whole number from 1 to 9", &o.digits, 1, 9});
  return cli;
}

// A folder's name as a comparison shows it: as given, without the slashes after it.
std::string runName(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void writePage(const Program& program, const std::string& output, const HtmlOptions& o) {
  if (lowerExtension(output) != ".html" && lowerExtension(output) != ".htm") {
    throw Failure(output + ": unknown output format; name it NAME.html");
  }
  checkRange(o.range);
  if (o.folders.size() > MOST_COMPARED) {
    throw Failure(std::to_string(o.folders.size()) + " FOLDERs: a page compares at most " +
                  std::to_string(MOST_COMPARED) + " runs");
  }
  const bool comparison = o.folders.size() >= 2;
  std::error_code ec;
  const std::string here = o.folders.size() == 1
                               ? std::filesystem::absolute(o.folders[0], ec).filename().string()
                               : std::filesystem::current_path(ec).filename().string();
  PageFacts facts{o.title, MESHPLAY_VIEWER, profileFacts(), static_cast<int>(o.digits)};
  if (facts.title.empty()) {
    facts.title =
        comparison ? "Comparing " + std::to_string(o.folders.size()) + " runs" : runName(here);
    facts.title += " \u2014 " MESHPLAY_VIEWER;
  }
  for (const std::string& folder : o.folders) {
    if (comparison) facts.runs.push_back(runName(folder));
  }
  EncodingOptions encoding;
  encoding.digits = static_cast<int>(o.digits);
  encoding.row = static_cast<std::size_t>(NX) + 1;
  const std::vector<std::string> folders =
      o.folders.empty() ? std::vector<std::string>{"."} : o.folders;
  // Every run is opened before anything is written, so that a typo in the last is no half page.
  std::vector<std::unique_ptr<Run>> runs;
  for (const std::string& folder : folders) {
    runs.push_back(std::make_unique<Run>(program, o.range, folder));
  }
  PageWriter page(output, facts, encoding, comparison ? PageKind::Comparison : PageKind::Run);
  Progress progress(program.name, "steps");
  long records = 0;
  for (const std::unique_ptr<Run>& run : runs) {
    if (comparison) page.nextRun();
    writeSteps(*run, page, o.every, progress);
    records += run->recordsRead();
  }
  page.finish();
  progress.finish(records, page.steps());
  warnNotFinite(program, page.replaced());
  if (page.bytes() > LARGE_PAGE) {
    program.warn(output + " is " + std::to_string(page.bytes() / 1000000) + " MB, more than " +
                 "browsers open with ease (100 MB); --every N writes every N-th time step, " +
                 "--digits 4 four significant digits of each");
  }
}

}  // namespace

int main(int argc, char** argv) {
  HtmlOptions options;
  return runProgram(argc, argv, commandLine(options),
                    [&options](const Program& program, const std::string& output) {
                      writePage(program, output, options);
                    });
}
