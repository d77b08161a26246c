// The X display the recorder draws on: the user's, or a private Xvfb when there is none.
#pragma once

// Leaves DISPLAY as it is if a display answers there. Otherwise starts Xvfb, points DISPLAY at it
// and says so in one line on stderr; fails naming Debian's xvfb package if Xvfb is not installed.
// The private server ends by itself once the recorder's last connection to it closes.
void ensureDisplay();

// Closes what ensureDisplay opened, and ends the private Xvfb, if there is one, waiting for it;
// called once the window is closed.
void releaseDisplay();
