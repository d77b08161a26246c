"""Drives a meshplay program in a private X server (Xvfb), as a user would: its console (prompt,
progress lines), real input events (xdotool) and screenshots of its window (xwd). Used by the
headless demo (headless.py) and by the end-to-end tests (tests/e2e/harness.py). Every wait polls
until a condition holds, and fails at TIMEOUT."""

import math
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time

WHITE, BLACK, GREEN = (255, 255, 255), (0, 0, 0), (0, 255, 128)
PROMPT = "press Enter to start \n"
CANNOT_OPEN = "file cannot open.\n"
END_OF_RUN = "PRESS MOUSE BUTTON ON DISPLAY\r"
SANITIZER_MARKS = ("runtime error", "AddressSanitizer")
TIMEOUT = float(os.environ.get("MESHPLAY_E2E_TIMEOUT", "15"))  # seconds for any one wait
GEO, TRI, RES = "geodata.dat", "tridata.dat", "result.dat"


class Failure(Exception):
    pass


def progress(t):  # the console line of a frame showing time t
    return "Progress:  Virtual:%.6f[s]\r" % t


def times(text):  # the times of the frames in console output, as printed
    return re.findall(r"Progress:  Virtual:([^\r]*)\[s\]\r", text)


def poll(condition, timeout=TIMEOUT, what="condition"):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.02)
    return result


def end(proc):
    proc.terminate()
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class Shot:
    """One screenshot from xwd's output. Pixel (i, j) covers image points [i, i+1) x [j, j+1)."""

    def __init__(self, xwd):
        self.xwd = xwd
        fields = struct.unpack(">25I", xwd[:100])
        if fields[11] != 32:
            raise Failure("expected a 32-bit visual, xwd says %d bits per pixel" % fields[11])
        self.width, self.height, self.line = fields[4], fields[5], fields[12]
        self.data = xwd[fields[0] + 12 * fields[19]:]  # after the header and the colour map
        # Pixels are 0x00RRGGBB words in the server's byte order.
        self.order = (2, 1, 0) if fields[7] == 0 else (1, 2, 3)

    def pixel(self, x, y):
        """(r, g, b) of pixel (x, y), counted from the top-left corner."""
        at = y * self.line + 4 * x
        return tuple(self.data[at + k] for k in self.order)

    def matches(self, x, y, colour, tol=48):
        x, y = math.floor(x), math.floor(y)
        if not (0 <= x < self.width and 0 <= y < self.height):
            return False
        return all(abs(self.data[y * self.line + 4 * x + k] - c) <= tol
                   for k, c in zip(self.order, colour))

    def rect(self, x0, y0, x1, y1, colour, every=False):
        """Some (or every) pixel of the rectangle, corners included, has the colour."""
        x0, y0, x1, y1 = map(math.floor, (x0, y0, x1, y1))
        return (all if every else any)(self.matches(x, y, colour)
                                       for x in range(x0, x1 + 1) for y in range(y0, y1 + 1))

    def near(self, x, y, colour, r=2):
        """Some pixel within r pixels of (x, y) has the colour: lines land a pixel either way."""
        return self.rect(x - r, y - r, x + r, y + r, colour)

    def spot(self, x, y, colour=BLACK, r=2):
        """A 3 x 3 block of the colour within r pixels of (x, y): a 4-pixel node point, which
        one-pixel lines, even where several meet, do not make."""
        return any(self.rect(x + i - 1, y + j - 1, x + i + 1, y + j + 1, colour, every=True)
                   for i in range(-r, r + 1) for j in range(-r, r + 1))


def _text(f):  # read without moving the offset the program writes at
    return os.pread(f.fileno(), os.fstat(f.fileno()).st_size, 0).decode(errors="replace")


class Viewer:
    """One run of the program in a fresh working directory."""

    def __init__(self, ctx, files):
        self.ctx = ctx
        self.dir = tempfile.mkdtemp(prefix="meshplay-e2e-")
        for name, content in files.items():
            path = os.path.join(self.dir, name)
            if callable(content):  # puts something other than a file of text in its place
                content(path)
            else:
                with open(path, "wb") as f:
                    f.write(content.encode() if isinstance(content, str) else content)
        # Mesa and the X libraries leave allocations behind at exit, from a driver that is no
        # longer mapped by then, so their leak reports cannot even be suppressed by name. The
        # viewer itself allocates nothing; its own code is leak-checked by the in-process tests.
        env = dict(ctx.env, ASAN_OPTIONS=":".join(
            o for o in (os.environ.get("ASAN_OPTIONS"), "detect_leaks=0") if o))
        self._out, self._err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        self.proc = subprocess.Popen([ctx.program], cwd=self.dir, env=env, stdin=subprocess.PIPE,
                                     stdout=self._out, stderr=self._err)
        self.seen = 0  # console offset up to which the case has checked the output
        # xdotool's (extended regular expression) pattern for exactly the program's path
        self.title = "^" + re.sub(r"([][.*+?^$(){}|\\])", r"\\\1", ctx.program) + "$"
        self._wid = None

    @property
    def output(self):
        return _text(self._out)

    @property
    def errors(self):
        return _text(self._err)

    def wait_for(self, text, timeout=TIMEOUT):
        """Waits for text in the unchecked console output; returns and checks output up to it."""
        def found():
            i = self.output.find(text, self.seen)
            return i >= 0 and i + len(text)
        stop = poll(found, timeout, "%r on the console" % text)
        got, self.seen = self.output[self.seen:stop], stop
        return got

    def expect_output(self, expected, timeout=TIMEOUT):
        """The next console output is exactly `expected`; fails as soon as it departs from it."""
        def decided():
            got = self.output[self.seen:self.seen + len(expected)]
            return (got,) if len(got) == len(expected) or not expected.startswith(got) else None
        got = poll(decided, timeout, "%r on the console" % expected[:300])[0]
        if got != expected:
            raise Failure("console: expected %r\n  got %r" % (expected, got))
        self.seen += len(got)

    def settle(self, quiet=0.5):
        """Waits until the console has been silent for `quiet` seconds and returns what came.
        Stopped playback shows only as the absence of frames, so a stop can only be observed
        as output that no longer grows."""
        deadline, size = time.monotonic() + TIMEOUT, -1
        while len(self.output) != size:
            if time.monotonic() > deadline:
                raise Failure("the console did not fall silent")
            size = len(self.output)
            time.sleep(quiet)
        got = self.output[self.seen:]
        self.seen += len(got)
        return got

    def send(self, text="\n"):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def reading_stdin(self):
        """True while the program is blocked reading standard input (Linux: the syscall it
        sleeps in is read() on descriptor 0)."""
        read_call = {"x86_64": "0", "aarch64": "63"}.get(os.uname().machine)
        try:
            with open("/proc/%d/syscall" % self.proc.pid) as f:
                return read_call is not None and f.read().split()[:2] == [read_call, "0x0"]
        except OSError:
            return False

    def xdo(self, *args):
        return self.ctx.x("xdotool", *args).decode()

    def window(self):
        """The program's window, found by its title: the path the program was started as."""
        if self._wid is None:
            found = self.xdo("search", "--sync", "--onlyvisible", "--name", self.title)
            self._wid = found.split()[0]
        return self._wid

    def shot(self):
        return Shot(self.ctx.x("xwd", "-silent", "-id", self.window()))

    def expect_picture(self, probes, name, timeout=TIMEOUT):
        """Polls screenshots until every probe holds. On timeout, fails naming every probe that
        still does not hold and keeps the last shot as <name>.xwd among the case's artifacts."""
        deadline = time.monotonic() + timeout
        while True:
            shot = self.shot()
            bad = [d for d, fn in probes if not fn(shot)]
            if not bad:
                return shot
            if time.monotonic() > deadline:
                os.makedirs(self.ctx.artifacts, exist_ok=True)
                path = os.path.join(self.ctx.artifacts, name + ".xwd")
                with open(path, "wb") as f:
                    f.write(shot.xwd)
                raise Failure("picture %s (saved as %s): %s" % (name, path, "; ".join(bad)))
            time.sleep(0.02)

    def act(self, *commands):
        """Runs xdotool commands as real input after putting the pointer inside the window, all in
        one xdotool call so the X server keeps their order. Without a window manager the keyboard
        focus follows the pointer, so this also directs keys to the window. (--sync on mousemove
        would hang when the pointer is already there.)"""
        self.xdo("mousemove", "--window", self.window(), "150", "150", *commands)

    def click(self, button):
        self.act("click", str(button))

    def key(self, *names):
        self.act("key", *names)

    def resize(self, width, height):
        self.xdo("windowsize", "--sync", self.window(), str(width), str(height))

    def quit(self, key):
        self.key(key)
        poll(lambda: self.proc.poll() is not None, what="%s to end the program" % key)
        if self.proc.returncode != 0:
            raise Failure("%s: exit status %d" % (key, self.proc.returncode))

    def stop(self):
        """Ends the program if it still runs and removes its files; fails on a sanitizer report."""
        if self.proc.poll() is None:
            end(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)
        if any(mark in self.errors for mark in SANITIZER_MARKS):
            raise Failure("sanitizer report on stderr:\n" + self.errors)


def xvfb():
    """Starts a private X server; returns its process and an environment naming its display."""
    # Xvfb picks a free display number itself and reports it.
    r, w = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
         "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    # The number comes in two writes, and Xvfb fails if the pipe is closed between them.
    with open(r, "rb") as f:
        number = f.readline().decode().strip()
    if not number.isdigit():
        end(server)
        raise Failure("Xvfb did not start")
    return server, dict(os.environ, DISPLAY=":" + number)


class Session:
    """A private X server, and runs of one program on it, each in a fresh folder."""

    def __init__(self, program, artifacts):
        self.program, self.artifacts = program, artifacts
        self.name = os.path.basename(program)
        self.viewers = []
        self.xvfb, self.env = xvfb()

    def start(self, files=None, enter=True):
        """Starts the program in a directory holding `files`: {name: text, bytes, or fn(path)}.
        With enter=True, presses Enter at the prompt and returns once the window is there."""
        v = Viewer(self, files or {})
        self.viewers.append(v)
        if enter:
            v.wait_for(PROMPT)
            v.send("\n")
            v.window()
        return v

    def x(self, *command, check=True):
        """Runs an X client on the case's display; returns its output."""
        try:
            r = subprocess.run(command, env=self.env, capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure("timed out: %s" % " ".join(command)[:300])
        if check and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(command)[:300], r.stderr.decode().strip()))
        return r.stdout

    def close(self):
        problems = []
        for v in self.viewers:
            try:
                v.stop()
            except Failure as e:
                problems.append(str(e))
        end(self.xvfb)
        return problems
