"""End-to-end harness: runs the real viewer under its own Xvfb, feeds it input files, drives it
with real X input events, and checks its console output and a few pixels of its window.

A case is a file test_NAME.py beside this one, registered in CMakeLists.txt with
`meshplay_e2e(NAME meshplay-a a)`; CTest runs it as `test_NAME.py PROFILE PROGRAM ARTIFACT_DIR`:

    import harness
    from harness import View, frame_probes, progress

    def run(ctx):
        v = ctx.start(ctx.files([(2.0, {0: (0.001, 0.0)}), (3.0, {})]))  # (t, {node: (dx, dy)})
        v.expect_output(progress(2.0))              # exactly the next console output
        v.expect_picture(frame_probes(View(ctx.profile), 2.0), "first")
        v.click(2)                                  # real input: click, key, act (any xdotool)
        v.expect_output(progress(3.0))

    harness.main(run)

A case fails by raising harness.Failure (or any exception); every program it started is then
stopped and its stderr checked for sanitizer reports. Nothing sleeps for a fixed time: every wait
polls the console or the screenshot until a condition holds, and fails at TIMEOUT.
"""

import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import zlib

WHITE, BLACK, GREEN = (255, 255, 255), (0, 0, 0), (0, 255, 128)
PROMPT = "press Enter to start \n"
CANNOT_OPEN = "file cannot open.\n"
END_OF_RUN = "PRESS MOUSE BUTTON ON DISPLAY\r"
SANITIZER_MARKS = ("runtime error", "AddressSanitizer")
TIMEOUT = float(os.environ.get("MESHPLAY_E2E_TIMEOUT", "15"))  # seconds for any one wait


class Failure(Exception):
    pass


def progress(t):
    """The console line of a frame showing time t."""
    return "Progress:  Virtual:%.6f[s]\r" % t


def times(text):
    """The times of the progress lines in a piece of console output, as printed."""
    return re.findall(r"Progress:  Virtual:([^\r]*)\[s\]\r", text)


def poll(condition, timeout=TIMEOUT, what="condition"):
    """Calls condition() until it returns something true; returns that, or fails at the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.02)


class Profile:
    """Build-time constants of one program and where its picture lands in the window."""

    def __init__(self, name, nx, ny, dx, dy, header_values, t_end):
        self.name, self.nx, self.ny, self.dx, self.dy = name, nx, ny, dx, dy
        self.header_values, self.t_end = header_values, t_end
        self.node_count = (nx + 1) * (ny + 1)
        self.hw, self.hh = nx * dx / 2.0, ny * dy / 2.0
        self.fw = self.hw + dx  # base line and progress frame half-width
        self.y_label, self.y_top, self.y_bot = self.hh + 1.5 * dy, self.hh + 2 * dy, self.hh + 3 * dy

    def rest(self, i):
        return (i % (self.nx + 1)) * self.dx, (i // (self.nx + 1)) * self.dy

    def corner(self, cx, cy):
        return cy * (self.nx + 1) + cx


PROFILES = {
    "a": Profile("a", 10, 6, 0.005, 0.005, 1, 15),
    "b": Profile("b", 30, 12, 0.0025, 0.0025, 2, 10),
}


class View:
    """Maps model coordinates to image pixels for a window size and view scale: one drawing unit
    is 100 pixels, the origin at the window centre, image rows counted from the top."""

    def __init__(self, profile, width=300, height=300, scale=0.03):
        self.p, self.width, self.height, self.scale = profile, width, height, scale

    def px(self, x, y):
        """Image pixel of model point (x, y), the grid centre being the model's origin."""
        return (self.width / 2 + 100 * x / self.scale, self.height / 2 - 100 * y / self.scale)

    def node(self, i, dx=0.0, dy=0.0):
        x, y = self.p.rest(i)
        return self.px(x + dx - self.p.hw, y + dy - self.p.hh)


# ---------------------------------------------------------------------------------------------
# Input files


def write_model(directory, profile):
    """geodata.dat and tridata.dat of the regular grid, each cell split in two triangles."""
    p = profile
    with open(os.path.join(directory, "geodata.dat"), "w") as f:
        for i in range(p.node_count):
            f.write("%d %g %g\n" % ((i,) + p.rest(i)))
    with open(os.path.join(directory, "tridata.dat"), "w") as f:
        n = 0
        for cy in range(p.ny):
            for cx in range(p.nx):
                a, b = p.corner(cx, cy), p.corner(cx + 1, cy)
                c, d = p.corner(cx, cy + 1), p.corner(cx + 1, cy + 1)
                f.write("%d %d %d %d\n%d %d %d %d\n" % (n, a, b, d, n + 1, a, d, c))
                n += 2


def write_results(directory, profile, records):
    """result.dat: records are (t, {node: (dx, dy)}) pairs; every other value is 0."""
    p = profile
    with open(os.path.join(directory, "result.dat"), "w") as f:
        for t, moves in records:
            # The node displacements are the first of 4 * NODE_COUNT pairs; the base pairs follow.
            pairs = ["0 0"] * (4 * p.node_count + p.nx + 1)
            for i, (dx, dy) in moves.items():
                pairs[i] = "%r %r" % (float(dx), float(dy))
            f.write(" ".join([repr(float(t))] + ["0"] * (p.header_values - 1) + pairs) + "\n")


# ---------------------------------------------------------------------------------------------
# Screenshots


def pixel(x, y):
    """The pixel holding image point (x, y): pixel (i, j) covers [i, i+1) x [j, j+1)."""
    return math.floor(x), math.floor(y)


class Shot:
    """One screenshot of a window, read from xwd's output: pixels as (r, g, b)."""

    def __init__(self, xwd):
        fields = struct.unpack(">25I", xwd[:100])
        header_size, width, height = fields[0], fields[4], fields[5]
        byte_order, bpp, line = fields[7], fields[11], fields[12]
        ncolors = fields[19]
        if bpp != 32:
            raise Failure("expected a 32-bit visual, xwd says %d bits per pixel" % bpp)
        self.width, self.height, self.line = width, height, line
        self.data = xwd[header_size + 12 * ncolors:]
        # Pixels are 0x00RRGGBB words in the server's byte order.
        self.order = (2, 1, 0) if byte_order == 0 else (1, 2, 3)

    def __getitem__(self, xy):
        x, y = pixel(*xy)
        if not (0 <= x < self.width and 0 <= y < self.height):
            return None
        o = y * self.line + 4 * x
        return tuple(self.data[o + k] for k in self.order)

    def matches(self, x, y, colour, tol=48):
        c = self[x, y]
        return c is not None and all(abs(a - b) <= tol for a, b in zip(c, colour))

    def near(self, x, y, colour, r=2):
        """Some pixel within r pixels of (x, y) has the colour: lines land a pixel either way."""
        x, y = pixel(x, y)
        return any(self.matches(x + i, y + j, colour)
                   for i in range(-r, r + 1) for j in range(-r, r + 1))

    def any(self, x0, y0, x1, y1, colour):
        """Some pixel of the rectangle (inclusive corners) has the colour."""
        (x0, y0), (x1, y1) = pixel(x0, y0), pixel(x1, y1)
        return any(self.matches(x, y, colour) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1))

    def region(self, x0, y0, x1, y1, colour):
        """Every pixel of the rectangle (inclusive corners) has the colour."""
        (x0, y0), (x1, y1) = pixel(x0, y0), pixel(x1, y1)
        return all(self.matches(x, y, colour) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1))

    def spot(self, x, y, colour=BLACK, r=2):
        """A 3 x 3 block of the colour within r pixels of (x, y): a 4-pixel node point, which
        one-pixel lines, even where several meet, do not make."""
        x, y = pixel(x, y)
        return any(self.region(x + i - 1, y + j - 1, x + i + 1, y + j + 1, colour)
                   for i in range(-r, r + 1) for j in range(-r, r + 1))

    def save_png(self, path):
        rows = b"".join(b"\0" + bytes(v for x in range(self.width) for v in self[x, y])
                        for y in range(self.height))

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body)))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n"
                    + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------
# Probes of the standard picture: (description, fn(shot)) pairs for Viewer.expect_picture


def frame_probes(v, t):
    """White corners, the base line with its ends, the label's start, the progress frame, and
    its fill covering the fraction t / T_END from the left."""
    p, w, h = v.p, v.width, v.height
    fw, dx = p.fw, p.dx
    base = lambda x: v.px(x, -p.hh)
    mid_bar = lambda x: v.px(x, -(p.y_top + p.y_bot) / 2)
    fill = -(1 - t / (p.t_end / 2.0)) * fw
    lx, ly = v.px(-fw, -p.y_label)
    probes = [
        ("white corners", lambda s: all(s.matches(x, y, WHITE)
                                        for x in (1, w - 2) for y in (1, h - 2))),
        ("base line near its left end",
         lambda s: s.near(base(-fw)[0] + 2, base(-fw)[1], BLACK, 1)),
        ("base line near its right end",
         lambda s: s.near(base(fw)[0] - 2, base(fw)[1], BLACK, 1)),
        ("nothing left of the base line",
         lambda s: not s.near(base(-fw)[0] - 5, base(-fw)[1], BLACK, 1)),
        ("label text right of its start", lambda s: s.any(lx, ly - 12, lx + 60, ly, BLACK)),
        ("nothing left of the label", lambda s: not s.any(lx - 8, ly - 12, lx - 3, ly, BLACK)),
        ("frame top edge", lambda s: s.near(*v.px(0.9 * fw, -p.y_top), GREEN)),
        ("frame bottom edge", lambda s: s.near(*v.px(0.9 * fw, -p.y_bot), GREEN)),
        ("frame left edge", lambda s: s.near(*mid_bar(-fw), GREEN)),
        ("frame right edge", lambda s: s.near(*mid_bar(fw), GREEN)),
        ("white above the frame",
         lambda s: not s.near(v.px(0.9 * fw, 0)[0], v.px(0, -p.y_top)[1] - 4, GREEN, 1)),
    ]
    # The label's bitmap text keeps its pixel size; the base line's right end is clear of it only
    # where the label's baseline lies well below the line.
    if (p.y_label - p.hh) / v.scale * 100 > 16:
        probes.append(("nothing right of the base line",
                       lambda s: not s.near(base(fw)[0] + 5, base(fw)[1], BLACK, 1)))
    x, y = mid_bar(fill)
    left, right = mid_bar(-fw)[0], mid_bar(fw)[0]
    if x - left > 8:
        probes.append(("fill left of x=%.0f" % x, lambda s: s.region(x - 6, y, x - 3, y, GREEN)))
    if right - x > 8:
        probes.append(("no fill right of x=%.0f" % x, lambda s: s.region(x + 3, y, x + 6, y, WHITE)))
    return probes


def grid_probes(v, nodes=True, elements=True):
    """The undeformed grid's outline at rest (its left part: cases move nodes on the right),
    its bottom-left and top-left node points, or their absence."""
    p, dx = v.p, v.p.dx
    left_mid = v.px(-p.hw, 0.5 * p.dy)  # half-way between two node rows
    top_between = v.px(-p.hw + 0.5 * dx, p.hh)
    corners = (0, p.corner(0, p.ny))
    return [
        ("left grid edge" if elements else "no left grid edge",
         lambda s: s.near(*left_mid, BLACK, 1) == elements),
        ("top grid edge between nodes" if elements else "no top grid edge",
         lambda s: s.near(*top_between, BLACK, 1) == elements),
        ("nothing left of the grid",
         lambda s: not s.near(left_mid[0] - 5, left_mid[1], BLACK, 1)),
        ("corner node points" if nodes else "no corner node points",
         lambda s: all(s.spot(*v.node(i)) == nodes for i in corners)),
    ]


# ---------------------------------------------------------------------------------------------
# The X server and the program


class Xvfb:
    """A private X server; Xvfb picks a free display number itself and reports it."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        deadline = time.monotonic() + TIMEOUT
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip().isdigit():
            self.stop()
            raise Failure("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Viewer:
    """One run of the program in a fresh working directory, console piped both ways."""

    def __init__(self, ctx, setup=None):
        self.ctx = ctx
        self.program = ctx.program
        self.dir = tempfile.mkdtemp(prefix="meshplay-e2e-")
        if setup:
            setup(self.dir)
        # Mesa and the X libraries leave allocations behind at exit, from a driver that is no
        # longer mapped by then, so their leak reports cannot even be suppressed by name. The
        # viewer itself allocates nothing; its own code is leak-checked by the in-process tests.
        env = dict(ctx.x.env, ASAN_OPTIONS=":".join(
            o for o in (os.environ.get("ASAN_OPTIONS"), "detect_leaks=0") if o))
        self.proc = subprocess.Popen([self.program], cwd=self.dir, env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self._out, self._err = bytearray(), bytearray()
        self._lock = threading.Lock()
        self._readers = [threading.Thread(target=self._pump, args=(s, b), daemon=True)
                         for s, b in ((self.proc.stdout, self._out), (self.proc.stderr, self._err))]
        for thread in self._readers:
            thread.start()
        self.seen = 0  # console offset up to which the case has checked the output
        self._wid = None

    def _pump(self, stream, buf):
        while True:
            chunk = os.read(stream.fileno(), 65536)
            if not chunk:
                return
            with self._lock:
                buf.extend(chunk)

    # Console

    @property
    def output(self):
        with self._lock:
            return self._out.decode(errors="replace")

    @property
    def errors(self):
        with self._lock:
            return self._err.decode(errors="replace")

    def wait_for(self, text, timeout=TIMEOUT):
        """Waits until text appears after the checked part of the console output; returns the
        output between (text included) and marks it checked."""
        def found():
            i = self.output.find(text, self.seen)
            return (i + len(text),) if i >= 0 else None
        end = poll(found, timeout, "%r on the console; it shows %r" % (text, self.tail()))[0]
        got, self.seen = self.output[self.seen:end], end
        return got

    def expect_output(self, expected, timeout=TIMEOUT):
        """The next console output is exactly `expected`; fails as soon as it departs from it."""
        def decided():
            got = self.output[self.seen:self.seen + len(expected)]
            return (got,) if len(got) == len(expected) or not expected.startswith(got) else None
        got = poll(decided, timeout, "%r on the console; it shows %r" % (expected, self.tail()))[0]
        if got != expected:
            raise Failure("console: expected %r\n  got %r" % (expected, got))
        self.seen += len(got)

    def settle(self, quiet=0.5, timeout=TIMEOUT):
        """Waits until the console has been silent for `quiet` seconds and returns what came.
        Stopped playback shows only as the absence of frames, so a stop can only be observed
        as output that no longer grows."""
        state = {"len": -1, "since": 0.0}

        def quiet_now():
            n, now = len(self.output), time.monotonic()
            if n != state["len"]:
                state["len"], state["since"] = n, now
            return now - state["since"] >= quiet
        poll(quiet_now, timeout + quiet, "the console to fall silent")
        got = self.output[self.seen:]
        self.seen += len(got)
        return got

    def tail(self, n=120):
        return self.output[self.seen:][-n:]

    def send(self, text="\n"):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    # Window

    def _title(self):
        """xdotool's (extended regular expression) pattern for exactly the program's path."""
        return "^" + re.sub(r"([][.*+?^$(){}|\\])", r"\\\1", self.program) + "$"

    def window(self, timeout=TIMEOUT):
        """The program's window, found by its title: the path the program was started as."""
        if self._wid is None:
            try:
                out = self.xdo("search", "--sync", "--onlyvisible", "--name", self._title(),
                               timeout=timeout)
            except subprocess.TimeoutExpired:
                raise Failure("no window titled %r appeared" % self.program)
            self._wid = out.split()[0]
        return self._wid

    def windows_titled(self):
        """Ids of windows, shown or not, whose title is the program path, without waiting."""
        r = subprocess.run(["xdotool", "search", "--name", self._title()], env=self.ctx.x.env,
                           capture_output=True, text=True, timeout=TIMEOUT)
        return r.stdout.split()

    def xdo(self, *args, timeout=TIMEOUT):
        r = subprocess.run(["xdotool"] + list(args), env=self.ctx.x.env, capture_output=True,
                           text=True, timeout=timeout)
        if r.returncode != 0:
            raise Failure("xdotool %s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def shot(self):
        r = subprocess.run(["xwd", "-silent", "-id", self.window()], env=self.ctx.x.env,
                           capture_output=True, timeout=TIMEOUT)
        if r.returncode != 0:
            raise Failure("xwd failed: %s" % r.stderr.decode(errors="replace").strip())
        return Shot(r.stdout)

    def expect_picture(self, probes, name, timeout=TIMEOUT):
        """Polls screenshots until every probe holds; probes are (description, fn(shot)) pairs.
        On timeout, fails naming every probe that still does not hold and keeps the last shot
        as <name>.png among the case's artifacts."""
        last = {}

        def all_hold():
            shot = self.shot()
            last["shot"], last["bad"] = shot, [d for d, fn in probes if not fn(shot)]
            return not last["bad"]
        try:
            poll(all_hold, timeout, "picture %s" % name)
        except Failure:
            path = self.ctx.save(last["shot"], name)
            raise Failure("picture %s (saved as %s): %s" % (name, path, "; ".join(last["bad"])))
        return last["shot"]

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

    # Process

    def reading_stdin(self):
        """True while the program is blocked reading standard input (Linux: the syscall it
        sleeps in is read() on descriptor 0)."""
        read_call = {"x86_64": "0", "aarch64": "63"}.get(os.uname().machine)
        try:
            with open("/proc/%d/syscall" % self.proc.pid) as f:
                fields = f.read().split()
        except OSError:
            return False
        return read_call is not None and fields[:2] == [read_call, "0x0"]

    def wait_exit(self, timeout=TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end")

    def stop(self):
        """Ends the program if it still runs; fails on a sanitizer report in its stderr."""
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for thread in self._readers:
            thread.join(5)
        shutil.rmtree(self.dir, ignore_errors=True)
        if any(mark in self.errors for mark in SANITIZER_MARKS):
            raise Failure("sanitizer report on stderr:\n" + self.errors)


class Context:
    """What a case gets: its profile, the program, an X server, and starting of viewers."""

    def __init__(self, profile, program, artifacts):
        self.profile, self.program, self.artifacts = profile, program, artifacts
        self.x = Xvfb()
        self.viewers = []

    def start(self, setup=None, enter=True):
        """Starts the program; setup(dir) writes its input files. With enter=True, presses
        Enter at the prompt and returns once the window is there."""
        v = Viewer(self, setup)
        self.viewers.append(v)
        if enter:
            v.wait_for(PROMPT)
            v.send("\n")
            v.window()
        return v

    def files(self, records, model=True):
        """A setup writing the grid (unless model=False) and result.dat with these records."""
        def setup(directory):
            if model:
                write_model(directory, self.profile)
            write_results(directory, self.profile, records)
        return setup

    def save(self, shot, name):
        os.makedirs(self.artifacts, exist_ok=True)
        path = os.path.join(self.artifacts, name + ".png")
        shot.save_png(path)
        return path

    def close(self):
        problems = []
        for v in self.viewers:
            try:
                v.stop()
            except Failure as e:
                problems.append(str(e))
        self.x.stop()
        return problems


def main(run):
    """Entry point of a case: `case.py PROFILE PROGRAM [ARTIFACT_DIR]`."""
    profile, program = PROFILES[sys.argv[1]], os.path.abspath(sys.argv[2])
    name = os.path.splitext(os.path.basename(sys.argv[0]))[0] + "-" + profile.name
    artifacts = sys.argv[3] if len(sys.argv) > 3 else os.path.join(tempfile.gettempdir(), name)
    ctx = Context(profile, program, artifacts)
    started, problems = time.monotonic(), []
    try:
        run(ctx)
    except Failure as e:
        problems.append(str(e))
    except Exception:
        problems.append(traceback.format_exc())
    finally:
        problems += ctx.close()
    for v in ctx.viewers:
        if problems and v.output:
            problems.append("console of the program: %r" % v.output[-600:])
    for p in problems:
        print("FAIL: " + p)
    print("%s: %s in %.1f s" % (name, "FAILED" if problems else "passed",
                                time.monotonic() - started))
    sys.exit(1 if problems else 0)
