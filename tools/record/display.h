// The X display the recorder draws on: the user's, or a private Xvfb when there is none.
#pragma once

#include <memory>

#include "common/child_process.h"
#include "common/program.h"

struct _XDisplay;

namespace companion {

class XDisplay {
 public:
  // Leaves DISPLAY as it is if a display answers there. Otherwise starts Xvfb, points DISPLAY at
  // it and says so in one line on stderr. Throws naming Debian's xvfb package if Xvfb is not
  // installed, and if it does not report its display within 10 s (it is ended then).
  explicit XDisplay(const Program& program);

  // Closes the connection that found the display, and ends the private Xvfb, if there is one:
  // to be destroyed after the window.
  ~XDisplay();
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

 private:
  // The connection stays open until the window is closed: an X server that resets when its last
  // client leaves would refuse GLUT's connection for a moment.
  _XDisplay* probe_ = nullptr;
  std::unique_ptr<ChildProcess> xvfb_;
};

}  // namespace companion
