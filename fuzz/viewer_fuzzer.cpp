// libFuzzer target: one input is the viewer's three input files and a few user actions. Each file
// is first scanned whole by the viewer's scanner, through its stream, as reals only and as integers
// only, and every value and where each scan stopped compared, bit for bit, with a plain reference
// scanning of the same text (reference_scanner.h). Then the real start-up opens the files and the
// real frame cycle reads and draws them into the recording GL double under the user actions, and
// after every frame what must hold whatever the files held is checked. How the readers lay the
// values out in their tables is the readers' unit tests' part.
//
// Input layout, kept stable so that corpus files keep their meaning:
//
//   geodata.dat NUL tridata.dat NUL result.dat [NUL controls]
//
// A part left out (fewer separators) is a file that cannot be opened. The first control byte, if
// not zero, limits every read() of the viewer to that many bytes, so that fields straddle buffer
// refills as they do on pipes; each further control byte is one user action between frames.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "gl_double.h"
#include "model/viewer_state.h"
#include "reference_scanner.h"
#include "model/replay.h"
#include "model/scanner.h"
#include "viewer/drawing.h"
#include "viewer/frame.h"
#include "viewer/input.h"

// Bytes at most per read() of the viewer, 0 for no limit (tests/unit/read_double.cpp).
extern std::size_t readLimit;

namespace {

// Enough for a few runs through the end of the data, few enough to keep a profile-B input cheap:
// most of an input's time goes to recording the drawing of 720 triangles a frame.
constexpr std::size_t MAX_ACTIONS = 32;
constexpr int MAX_FRAMES = 12;
const char* const FILES[3] = {"geodata.dat", "tridata.dat", "result.dat"};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "meshplay fuzz: %s\n", what);
  std::abort();
}

// Bytes of the stream consumed: what read() took, less what its buffer still holds.
std::size_t consumed(const InputStream& s) {
  return static_cast<std::size_t>(::lseek(s.fd, 0, SEEK_CUR)) - (s.end - s.pos);
}

// The scanner against the reference over the whole of one file, one kind of field throughout.
void compareScans(const char* name, std::string_view text, bool real) {
  InputStream s;
  if (!openStream(s, name)) return;
  ReferenceText r{text, 0, true};
  for (long k = 0;; ++k) {
    double got = 0.0, want = 0.0;
    std::int32_t gotInt = 0, wantInt = 0;
    const bool scanned = real ? scanReal(s, got) : scanInt(s, gotInt);
    const bool expected = real ? referenceReal(r, want) : referenceInt(r, wantInt);
    if (scanned != expected || std::memcmp(&got, &want, sizeof got) != 0 || gotInt != wantInt ||
        consumed(s) != r.pos) {
      std::fprintf(stderr, "%s, %s %ld: scanner %d %.17g at %zu, reference %d %.17g at %zu\n", name,
                   real ? "real" : "integer", k, scanned, real ? got : gotInt, consumed(s),
                   expected, real ? want : wantInt, r.pos);
      fail("the scanner's reading differs from the reference reading");
    }
    if (!scanned) return;
  }
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
}

int frames = 0;

// One display callback without its console lines.
void frame() {
  showStep(advanceReplay(state, state.rewindRequested == 1));
  checkFrame(++frames);
  // The record of one frame is not needed by the next; dropping it keeps long runs cheap.
  gl.primitives.clear();
  gl.text.clear();
}

// One user action; then GLUT merges the redisplays posted since the last frame into one.
void act(std::uint8_t code, std::uint8_t argument) {
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
    case 12:  // any other key; 'q' and ESC end the process
      if (argument != 'q' && argument != 27) onKey(argument, 0, 0);
      break;
    case 13: onSpecialKey(argument, 0, 0); break;
    case 14: onMouse(argument % 8, argument / 8 % 2, 0, 0); break;
    default:  // idle time: while playback runs, the idle callback posts the next redisplay
      if (gl.idle != nullptr) gl.idle();
      break;
  }
  while (gl.redisplays > 0 && frames < MAX_FRAMES) {
    gl.redisplays = 0;
    frame();
  }
}

void writeFile(const char* name, std::string_view text) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) fail(name);
  std::fclose(f);
}

int lowestFreeDescriptor() {
  const int fd = ::dup(0);
  ::close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A scratch folder for the three files, in memory where there is a /dev/shm.
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  static std::string folder = std::string(base) + "/meshplay-fuzz-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr || ::chdir(folder.c_str()) != 0)
    fail("no scratch folder");
  std::atexit([] {
    for (const char* name : FILES) ::unlink(name);
    ::rmdir(folder.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size), controls;
  std::string_view texts[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t cut = rest.find('\0');
    texts[i] = rest.substr(0, cut);
    writeFile(FILES[i], texts[i]);
    if (cut == std::string_view::npos) {
      for (int missing = i + 1; missing < 3; ++missing) ::unlink(FILES[missing]);
      break;
    }
    rest.remove_prefix(cut + 1);
    if (i == 2) controls = rest;
  }
  const int freeBefore = lowestFreeDescriptor();
  readLimit = controls.empty() ? 0 : static_cast<std::uint8_t>(controls[0]);
  for (int i = 0; i < 3; ++i) {
    compareScans(FILES[i], texts[i], true);
    compareScans(FILES[i], texts[i], false);
  }

  state = ViewerState{};
  resetGl();
  frames = 0;
  openInputs(state);  // as at start-up
  frame();            // the new window's first display shows the first record
  if (controls.empty()) {
    frame();
    frame();
  }
  for (std::size_t i = 1; i < controls.size() && i <= MAX_ACTIONS && frames < MAX_FRAMES; ++i) {
    act(static_cast<std::uint8_t>(controls[i]),
        static_cast<std::uint8_t>(i + 1 < controls.size() ? controls[i + 1] : 0));
  }
  readLimit = 0;

  state = ViewerState{};  // the streams close themselves
  if (lowestFreeDescriptor() != freeBefore) fail("a file descriptor was left open");
  return 0;
}
