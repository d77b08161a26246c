// libFuzzer target: one input is the viewer's three input files and a few user actions. The real
// readers and the real frame cycle run on them and draw into the recording GL double, and after
// every frame the tables the viewer holds are compared with those of a plain reference reading of
// the same text.
//
// Input layout, kept stable so that corpus files keep their meaning:
//
//   geodata.dat NUL tridata.dat NUL result.dat [NUL controls]
//
// A part left out (fewer separators) is a file that cannot be opened. The first control byte, if
// not zero, limits every read() of the viewer to that many bytes, so that fields straddle buffer
// refills as they do on pipes; each further control byte is one user action between frames.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <GL/glut.h>

#include "gl_double.h"
#include "model/readers.h"
#include "model/viewer_state.h"
#include "read_double.h"
#include "reference_scanner.h"
#include "viewer/frame.h"
#include "viewer/replay.h"
#include "viewer/input.h"

namespace {

constexpr char SEPARATOR = '\0';
// Enough for a few runs through the end of the data, few enough to keep a profile-B input cheap:
// most of an input's time goes to recording the drawing of 720 triangles a frame.
constexpr std::size_t MAX_ACTIONS = 32;
constexpr int MAX_FRAMES = 12;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "meshplay fuzz: %s\n", what);
  std::abort();
}

struct Parts {
  std::string_view file[3];
  bool present[3] = {false, false, false};
  std::string_view controls;
};

Parts split(const std::uint8_t* data, std::size_t size) {
  Parts parts;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (int i = 0; i < 3; ++i) {
    const std::size_t cut = rest.find(SEPARATOR);
    parts.present[i] = true;
    parts.file[i] = rest.substr(0, cut);
    if (cut == std::string_view::npos) return parts;
    rest.remove_prefix(cut + 1);
  }
  parts.controls = rest;
  return parts;
}

// Process-wide resources, set up once: a scratch directory that holds result.dat (the frame cycle
// reopens it by name), and two memory files reused for the node and element files.
struct Scratch {
  int directory = -1;
  std::string path;
  int nodeFile = -1;
  int elementFile = -1;
};
Scratch scratch;

void removeScratch() {
  if (scratch.path.empty()) return;
  ::unlink((scratch.path + "/result.dat").c_str());
  ::rmdir(scratch.path.c_str());
}

void writeAll(int fd, std::string_view text) {
  if (::ftruncate(fd, 0) != 0) fail("ftruncate failed");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n =
        ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) fail("pwrite failed");
    done += static_cast<std::size_t>(n);
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) fail("lseek failed");
}

// The stream gets its own descriptor of the memory file: closeStream closes that one only.
void attachMemoryFile(InputStream& s, int file, bool present, std::string_view text) {
  if (!present) return;
  writeAll(file, text);
  const int fd = ::fcntl(file, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) fail("dup failed");
  attachStream(s, fd);
}

void writeResultFile(bool present, std::string_view text) {
  if (!present) {
    ::unlinkat(scratch.directory, "result.dat", 0);
    return;
  }
  const int fd =
      ::openat(scratch.directory, "result.dat", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fail("cannot write result.dat");
  writeAll(fd, text);
  ::close(fd);
}

int lowestFreeDescriptor() {
  const int fd = ::fcntl(scratch.directory, F_DUPFD, 0);
  ::close(fd);
  return fd;
}

// The oracle: the same block and record reads as model/readers.h, over the whole text.
struct Reference {
  ReferenceText nodes, elements, results;
  NodeTable nodeTable{};
  ElementTable elementTable{};
  ResultRecord record{};
};
Reference reference;  // large: static, reset per input
const Reference freshReference{};

bool referenceRecord(ReferenceText& r, ResultRecord& record) {
  double t = 0.0;
  if (!referenceReal(r, t)) return false;
  record.header[0] = t;
  bool reading = true;
  auto next = [&](double& value) {
    if (reading && referenceReal(r, value)) return;
    reading = false;
    value = 0.0;
  };
  for (int i = 1; i < HEADER_VALUES; ++i) next(record.header[i]);
  for (auto& pair : record.vectors) {
    next(pair[0]);
    next(pair[1]);
  }
  for (auto& pair : record.base) {
    next(pair[0]);
    next(pair[1]);
  }
  return true;
}

void referenceNodes(ReferenceText& r, NodeTable& table) {
  for (NodePosition& node : table) {
    std::int32_t number = 0;
    if (!referenceInt(r, number) || !referenceReal(r, node.x) || !referenceReal(r, node.y)) return;
  }
}

void referenceElements(ReferenceText& r, ElementTable& table) {
  for (Element& element : table) {
    std::int32_t number = 0;
    if (!referenceInt(r, number) || !referenceInt(r, element.nodes[0]) ||
        !referenceInt(r, element.nodes[1]) || !referenceInt(r, element.nodes[2])) {
      return;
    }
  }
}

// The first value where the viewer's reading and the reference's differ in any bit, if any.
template <class Value>
void compare(const char* what, const void* got, const void* expected, std::size_t bytes) {
  const auto* a = static_cast<const unsigned char*>(got);
  const auto* b = static_cast<const unsigned char*>(expected);
  for (std::size_t at = 0; at < bytes; at += sizeof(Value)) {
    if (std::memcmp(a + at, b + at, sizeof(Value)) == 0) continue;
    Value x, y;
    std::memcpy(&x, a + at, sizeof x);
    std::memcpy(&y, b + at, sizeof y);
    std::fprintf(stderr, "%s, value %zu: viewer %.17g, reference %.17g\n", what, at / sizeof(Value),
                 static_cast<double>(x), static_cast<double>(y));
    fail("the viewer's reading differs from the reference reading");
  }
}

void compareTables() {
  static_assert(sizeof(NodeTable) == 2 * NODE_COUNT * sizeof(double) &&
                    sizeof(ElementTable) == 3 * ELEMENT_COUNT * sizeof(std::int32_t) &&
                    sizeof(ResultRecord) == RECORD_VALUES * sizeof(double),
                "the tables are plain runs of values");
  compare<double>("node table", &state.nodeTable, &reference.nodeTable, sizeof(NodeTable));
  compare<std::int32_t>("element table", &state.elementTable, &reference.elementTable,
                        sizeof(ElementTable));
  compare<double>("shown record", &state.shownRecord, &reference.record, sizeof(ResultRecord));
}

// What must hold after any frame, whatever the files held.
void checkFrame(int framesDrawn) {
  if (gl.inBegin) fail("a primitive was left open (glBegin without glEnd)");
  if (gl.swaps != framesDrawn || gl.clears != framesDrawn) fail("not one clear and swap a frame");
  if (gl.text.size() >= LABEL_CAPACITY) fail("label longer than its buffer");
  if (!(state.viewScale >= SCALE_STEP / 2.0) || !std::isfinite(state.viewScale)) {
    fail("view scale left its range");
  }
  for (std::uint8_t flag :
       {state.showNodes, state.showElements, state.rewindRequested, state.paused}) {
    if (flag > 1) fail("a flag holds neither 0 nor 1");
  }
  compareTables();
}

struct Run {
  const Parts& parts;
  int frames = 0;

  // One display callback, mirrored by the reference reading. The run ends as drawFrame decides it,
  // and then the reference starts the result text again, as the viewer reopens result.dat.
  void frame() {
    const bool rewind = state.rewindRequested == 1;
    const bool timeValid = referenceRecord(reference.results, reference.record);
    drawFrame();
    if (runHasEnded(reference.record.time(), timeValid, rewind)) reference.results.pos = 0;
    referenceNodes(reference.nodes, reference.nodeTable);
    referenceElements(reference.elements, reference.elementTable);
    ++frames;
    checkFrame(frames);
    // The record of one frame is not needed by the next; dropping it keeps long runs cheap.
    gl.primitives.clear();
    gl.text.clear();
  }

  // GLUT merges the redisplays posted since the last frame into one display callback.
  void settle() {
    while (gl.redisplays > 0 && frames < MAX_FRAMES) {
      gl.redisplays = 0;
      frame();
    }
  }

  void action(std::uint8_t code, std::uint8_t argument) {
    switch (code % 16) {
      case 0: ++gl.redisplays; break;
      case 1: onKey('n', 0, 0); break;
      case 2: onKey('e', 0, 0); break;
      case 3: onKey('r', 0, 0); break;
      case 4: onKey('s', 0, 0); break;
      case 5: onSpecialKey(GLUT_KEY_UP, 0, 0); break;
      case 6: onSpecialKey(GLUT_KEY_DOWN, 0, 0); break;
      case 7: onMouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0); break;
      case 8: onMouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0); break;
      case 9: onMouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 0); break;
      case 10: onMouse(GLUT_RIGHT_BUTTON, GLUT_UP, 0, 0); break;
      case 11: onMouse(GLUT_MIDDLE_BUTTON, GLUT_DOWN, 0, 0); break;
      case 12:
        // Any other key; 'q' and ESC end the process and are left out.
        if (argument != 'q' && argument != 27) onKey(argument, 0, 0);
        break;
      case 13: onSpecialKey(argument, 0, 0); break;
      case 14: onMouse(argument % 8, argument / 8 % 2, 0, 0); break;
      default:
        // Idle time: while playback runs, the idle callback posts the next redisplay.
        if (gl.idle != nullptr) gl.idle();
        break;
    }
    settle();
  }

  void play() {
    // The first display of the new window shows the first record.
    frame();
    if (parts.controls.empty()) {
      frame();
      frame();
      return;
    }
    const std::string_view actions = parts.controls.substr(1);
    for (std::size_t i = 0; i < actions.size() && i < MAX_ACTIONS && frames < MAX_FRAMES; ++i) {
      const auto code = static_cast<std::uint8_t>(actions[i]);
      const auto argument = static_cast<std::uint8_t>(i + 1 < actions.size() ? actions[i + 1] : 0);
      action(code, argument);
    }
  }
};

void resetViewer() {
  state = ViewerState{};  // the streams close themselves
  resetGl();
}

}  // namespace

// The heap is used only by the GL double and this target, never by the code under test, so
// allocation stacks would only slow every frame's recording down.
extern "C" const char* __asan_default_options() {
  return "malloc_context_size=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The viewer reports progress on standard output at every frame; libFuzzer reports on standard
  // error, which stays.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  const char* base = "/dev/shm";
  struct stat info;
  if (::stat(base, &info) != 0 || !S_ISDIR(info.st_mode) || ::access(base, W_OK) != 0) {
    base = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
  }
  std::string pattern = std::string(base) + "/meshplay-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed");
  scratch.path = pattern;
  scratch.directory = ::open(scratch.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  scratch.nodeFile = ::memfd_create("geodata.dat", MFD_CLOEXEC);
  scratch.elementFile = ::memfd_create("tridata.dat", MFD_CLOEXEC);
  if (scratch.directory < 0 || scratch.nodeFile < 0 || scratch.elementFile < 0) {
    fail("cannot set up the scratch files");
  }
  std::atexit(removeScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Parts parts = split(data, size);
  const int freeBefore = lowestFreeDescriptor();
  const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || ::fchdir(scratch.directory) != 0) fail("cannot enter the scratch directory");

  resetViewer();
  reference = freshReference;
  reference.nodes = {parts.file[0], 0, parts.present[0]};
  reference.elements = {parts.file[1], 0, parts.present[1]};
  reference.results = {parts.file[2], 0, parts.present[2]};

  attachMemoryFile(state.nodeStream, scratch.nodeFile, parts.present[0], parts.file[0]);
  attachMemoryFile(state.elementStream, scratch.elementFile, parts.present[1], parts.file[1]);
  writeResultFile(parts.present[2], parts.file[2]);
  // As at start-up: result.dat is opened by name, and may be missing.
  openStream(state.resultStream, "result.dat");

  readLimit = parts.controls.empty() ? 0 : static_cast<std::uint8_t>(parts.controls[0]);
  Run{parts}.play();
  readLimit = 0;

  resetViewer();
  if (::fchdir(home) != 0) fail("cannot leave the scratch directory");
  ::close(home);
  if (lowestFreeDescriptor() != freeBefore) fail("a file descriptor was left open");
  return 0;
}
