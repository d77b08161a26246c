// meshplay-a-html, meshplay-b-html, ...: the viewer's run, record by record as the viewer replays
// it, in one web page that plays it in a browser, offline, drawn as the viewer draws it.
#include <filesystem>
#include <string>

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
};

CommandLine commandLine(HtmlOptions& o) {
  CommandLine cli{
      "OUTPUT", true, "NAME.html",
      "Writes the run of geodata.dat, tridata.dat and result.dat in the current folder, "
      "as " MESHPLAY_VIEWER
      "\nreplays it, into one web page that plays it in a browser, with nothing else needed:\n"
      "the mesh, every time step's displacements (compressed) and the player. See "
      "man " MESHPLAY_VIEWER "-html.",
      cutOptions(o.every, o.range)};
  cli.options.push_back({"title", "TEXT",
                         "the page's title (default: the folder's name and the program's)",
                         "a text", &o.title});
  cli.options.push_back({"digits", "N",
                         "keep N significant digits of the largest displacement, for a smaller "
                         "page (default: every value exact)",
                         "a whole number from 1 to 9", &o.digits, 1, 9});
  return cli;
}

void writePage(const Program& program, const std::string& output, const HtmlOptions& o) {
  if (lowerExtension(output) != ".html" && lowerExtension(output) != ".htm") {
    throw Failure(output + ": unknown output format; name it NAME.html");
  }
  checkRange(o.range);
  Run run(program, o.range);
  std::error_code ec;
  const std::string folder = std::filesystem::current_path(ec).filename().string();
  const PageFacts facts{o.title.empty() ? folder + " \u2014 " MESHPLAY_VIEWER : o.title,
                        MESHPLAY_VIEWER, profileFacts(), static_cast<int>(o.digits)};
  EncodingOptions encoding;
  encoding.digits = static_cast<int>(o.digits);
  encoding.row = static_cast<std::size_t>(NX) + 1;
  PageWriter page(output, facts, encoding);
  Progress progress(program.name, "steps");
  writeRun(run, page, o.every, progress);
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
