"""End-to-end harness: runs the real viewer under its own Xvfb in a fresh directory holding the
input files a case writes, drives it with real X input (xdotool) and checks its console output
and pixels of its window (xwd). CTest runs a case as `test_NAME.py PROFILE PROGRAM ARTIFACT_DIR`;
it calls main(run), and run(ctx) fails by raising an exception. Every program started is then
stopped, and a sanitizer report on its stderr fails the case too. Every wait polls the console or
the screenshot until a condition holds, and fails at TIMEOUT."""

import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback

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


class Profile:
    """Build-time constants of one program (its <program>.json, written by the build) and where its
    picture lands in the window."""

    def __init__(self, d):
        self.nx, self.ny, self.dx, self.dy = d["NX"], d["NY"], d["DX"], d["DY"]
        self.header_values, self.t_end = d["HEADER_VALUES"], d["T_END"]
        self.node_count = d["NODE_COUNT"]
        # Value pairs of a record after its header: node vectors first, the base's last.
        self.pairs = d["VECTOR_PAIRS"] + d["BASE_PAIRS"]
        self.hw, self.hh = self.nx * self.dx / 2.0, self.ny * self.dy / 2.0
        self.fw = self.hw + self.dx  # base line and progress frame half-width
        self.y_label, self.y_top, self.y_bot = (self.hh + k * self.dy for k in (1.5, 2, 3))

    def rest(self, i):
        return (i % (self.nx + 1)) * self.dx, (i // (self.nx + 1)) * self.dy

    def corner(self, cx, cy):
        return cy * (self.nx + 1) + cx


class View:
    """Maps model coordinates to image pixels for a window size and view scale: one drawing unit
    is 100 pixels, the origin (the grid's centre) at the window centre, rows counted downwards."""

    def __init__(self, profile, width=300, height=300, scale=0.03):
        self.p, self.width, self.height, self.scale = profile, width, height, scale

    def px(self, x, y):
        return (self.width / 2 + 100 * x / self.scale, self.height / 2 - 100 * y / self.scale)

    def node(self, i, dx=0.0, dy=0.0):
        x, y = self.p.rest(i)
        return self.px(x + dx - self.p.hw, y + dy - self.p.hh)


def record(p, t, moves=None, fill="0"):
    """One line of result.dat: time t, displacements {node: (dx, dy)}, every other value `fill`;
    all given as text, so that values no double holds (1e400) can be written too."""
    pairs = [(fill, fill)] * p.pairs
    for i, move in (moves or {}).items():
        pairs[i] = move
    return " ".join([t] + ["0"] * (p.header_values - 1) + [a + " " + b for a, b in pairs]) + "\n"


def results(p, records):  # (t, {node: (dx, dy)}) records given as numbers
    return "".join(record(p, repr(float(t)), {i: (repr(float(x)), repr(float(y)))
                                              for i, (x, y) in moves.items()})
                   for t, moves in records)


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


# Probes of the standard picture: (description, fn(shot)) pairs for Viewer.expect_picture.

def frame_probes(v, t=None):
    """The base line's ends and the progress frame, drawn whatever the files hold. With the time t
    of the frame also: white corners, white beside the base line, the label's start, white above
    the frame, and the frame's fill covering the fraction t / T_END from the left."""
    p, w, h, fw = v.p, v.width, v.height, v.p.fw
    base = lambda x: v.px(x, -p.hh)
    mid_bar = lambda x: v.px(x, -(p.y_top + p.y_bot) / 2)
    probes = [
        ("base line near its left end", lambda s: s.near(base(-fw)[0] + 2, base(-fw)[1], BLACK, 1)),
        ("base line near its right end", lambda s: s.near(base(fw)[0] - 2, base(fw)[1], BLACK, 1)),
        ("frame top edge", lambda s: s.near(*v.px(0.9 * fw, -p.y_top), GREEN)),
        ("frame bottom edge", lambda s: s.near(*v.px(0.9 * fw, -p.y_bot), GREEN)),
        ("frame left edge", lambda s: s.near(*mid_bar(-fw), GREEN)),
        ("frame right edge", lambda s: s.near(*mid_bar(fw), GREEN)),
    ]
    if t is None:
        return probes
    lx, ly = v.px(-fw, -p.y_label)
    probes += [
        ("white corners",
         lambda s: all(s.matches(x, y, WHITE) for x in (1, w - 2) for y in (1, h - 2))),
        ("nothing left of the base line",
         lambda s: not s.near(base(-fw)[0] - 5, base(-fw)[1], BLACK, 1)),
        ("label text right of its start", lambda s: s.rect(lx, ly - 12, lx + 60, ly, BLACK)),
        ("nothing left of the label", lambda s: not s.rect(lx - 8, ly - 12, lx - 3, ly, BLACK)),
        ("white above the frame",
         lambda s: not s.near(v.px(0.9 * fw, 0)[0], v.px(0, -p.y_top)[1] - 4, GREEN, 1)),
    ]
    # The label's bitmap text keeps its pixel size; the base line's right end is clear of it only
    # where the label's baseline lies well below the line.
    if (p.y_label - p.hh) / v.scale * 100 > 16:
        probes.append(("nothing right of the base line",
                       lambda s: not s.near(base(fw)[0] + 5, base(fw)[1], BLACK, 1)))
    x, y = mid_bar(-(1 - t / (p.t_end / 2.0)) * fw)  # the fill's right end
    if x - mid_bar(-fw)[0] > 8:
        probes.append(("fill left of x=%.0f" % x,
                       lambda s: s.rect(x - 6, y, x - 3, y, GREEN, every=True)))
    if mid_bar(fw)[0] - x > 8:
        probes.append(("no fill right of x=%.0f" % x,
                       lambda s: s.rect(x + 3, y, x + 6, y, WHITE, every=True)))
    return probes


def grid_probes(v, nodes=True, elements=True):
    """The undeformed grid's outline at rest (its left part: cases move nodes on the right),
    its bottom-left and top-left node points, or their absence."""
    p = v.p
    left_mid = v.px(-p.hw, 0.5 * p.dy)  # half-way between two node rows
    top_between = v.px(-p.hw + 0.5 * p.dx, p.hh)
    corners = (0, p.corner(0, p.ny))
    return [
        ("left grid edge" if elements else "no left grid edge",
         lambda s: s.near(*left_mid, BLACK, 1) == elements),
        ("top grid edge between nodes" if elements else "no top grid edge",
         lambda s: s.near(*top_between, BLACK, 1) == elements),
        ("nothing left of the grid", lambda s: not s.near(left_mid[0] - 5, left_mid[1], BLACK, 1)),
        ("corner node points" if nodes else "no corner node points",
         lambda s: all(s.spot(*v.node(i)) == nodes for i in corners)),
    ]


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


class Context:
    """What a case gets: its profile, the program, a private X server, and starting of viewers."""

    def __init__(self, description, artifacts):
        """description: the program's <program>.json from the build, or just {"program": path}."""
        self.tools = description or {}
        self.profile = Profile(self.tools) if "NX" in self.tools else None
        self.program, self.artifacts = self.tools.get("program"), artifacts
        self.name = os.path.basename(self.program or "")
        self.viewers = []
        self._model = None
        # Xvfb picks a free display number itself and reports it.
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        # The number comes in two writes, and Xvfb fails if the pipe is closed between them.
        with open(r, "rb") as f:
            number = f.readline().decode().strip()
        if not number.isdigit():
            end(self.xvfb)
            raise Failure("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=":" + number)

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

    def model_files(self):
        """geodata.dat and tridata.dat of the grid, as the demo generator writes them."""
        if self._model is None:
            folder = tempfile.mkdtemp(prefix="meshplay-e2e-grid-")
            subprocess.run([self.tools["demodata"], folder], check=True, stdout=subprocess.DEVNULL)
            self._model = {}
            for name in (GEO, TRI):
                with open(os.path.join(folder, name)) as f:
                    self._model[name] = f.read()
            shutil.rmtree(folder)
        return dict(self._model)

    def files(self, records):
        return dict(self.model_files(), **{RES: results(self.profile, records)})

    def close(self):
        problems = []
        for v in self.viewers:
            try:
                v.stop()
            except Failure as e:
                problems.append(str(e))
        end(self.xvfb)
        return problems


def main(run):
    with open(sys.argv[1]) as f:
        ctx = Context(json.load(f), sys.argv[2])
    problems = []
    try:
        run(ctx)
    except Exception as e:
        problems.append(str(e) if isinstance(e, Failure) else traceback.format_exc())
    finally:
        problems += ctx.close()
    if problems:
        problems += ["console of the program: %r" % v.output[-600:]
                     for v in ctx.viewers if v.output]
    for p in problems:
        print("FAIL: " + p)
    sys.exit(1 if problems else 0)
