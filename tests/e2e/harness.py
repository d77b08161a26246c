"""End-to-end harness: runs the real programs under their own Xvfb (scripts/xsession.py) in fresh
directories holding the input files a case writes, and checks their console output and pixels of
their window. CTest runs a case as `test_NAME.py PROGRAM.json ARTIFACT_DIR`, the program's
description written by the build (its profile's constants and the paths of its tools); the case
calls main(run), and run(ctx) fails by raising an exception. Every program started is then
stopped, and a sanitizer report on its stderr fails the case too."""

import faulthandler
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import traceback
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from xsession import (BLACK, CANNOT_OPEN, END_OF_RUN, GEO, GREEN, PROMPT, RES,  # noqa: E402,F401
                      SANITIZER_MARKS, TIMEOUT, TRI, WHITE, Failure, Session, end, poll,
                      progress, times)


class Profile:
    """Build-time constants of one program (its <program>.json, written by the build) and where its
    picture lands in the window."""

    def __init__(self, d):
        self.nx, self.ny, self.dx, self.dy = d["NX"], d["NY"], d["DX"], d["DY"]
        self.header_values, self.t_end = d["HEADER_VALUES"], d["T_END"]
        self.node_count, self.element_count = d["NODE_COUNT"], d["ELEMENT_COUNT"]
        # Value pairs of a record after its header: node vectors first, the base's last.
        self.pairs = d["VECTOR_PAIRS"] + d["BASE_PAIRS"]
        self.hw, self.hh = d["HW"], d["HH"]
        self.fw = d["FW"]  # base line and progress frame half-width
        self.y_label, self.y_top, self.y_bot = d["YLABEL"], d["YTOP"], d["YBOT"]
        self.scale_init, self.scale_step = d["SCALE_INIT"], d["SCALE_STEP"]

    def rest(self, i):
        return (i % (self.nx + 1)) * self.dx, (i // (self.nx + 1)) * self.dy

    def corner(self, cx, cy):
        return cy * (self.nx + 1) + cx


class View:
    """Maps model coordinates to image pixels for a window size and view scale (by default the
    profile's opening one): one drawing unit is 100 pixels, the origin (the grid's centre) at the
    window centre, rows counted downwards."""

    def __init__(self, profile, width=300, height=300, scale=None):
        self.p, self.width, self.height = profile, width, height
        self.scale = profile.scale_init if scale is None else scale

    def px(self, x, y):
        return (self.width / 2 + 100 * x / self.scale, self.height / 2 - 100 * y / self.scale)

    def node(self, i, dx=0.0, dy=0.0):
        x, y = self.p.rest(i)
        return self.px(x + dx - self.p.hw, y + dy - self.p.hh)

    def fine(self):
        """Cells too small for a node point to stand apart from its neighbours' points and lines."""
        return 100 * min(self.p.dx, self.p.dy) / abs(self.scale) < 8

    def model(self, pixels):
        """Model length units that many pixels span."""
        return pixels * abs(self.scale) / 100


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


# Probes of the standard picture: (description, fn(shot)) pairs for Viewer.expect_picture.

def frame_probes(v, t=None):
    """The base line's ends and the progress frame, drawn whatever the files hold. With the time t
    of the frame also: white corners, the label's start, and the frame's fill covering the fraction
    t / T_END from the left. (Exact positions are the unit tests' part.)"""
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
        ("label text right of its start", lambda s: s.rect(lx, ly - 12, lx + 60, ly, BLACK)),
    ]
    x, y = mid_bar(-(1 - t / (p.t_end / 2.0)) * fw)  # the fill's right end
    x = min(x, w + 2)  # a time past the end fills on beyond the window
    if x - mid_bar(-fw)[0] > 8:
        probes.append(("fill left of x=%.0f" % x,
                       lambda s: s.rect(x - 6, y, x - 3, y, GREEN, every=True)))
    if mid_bar(fw)[0] - x > 8:
        probes.append(("no fill right of x=%.0f" % x,
                       lambda s: s.rect(x + 3, y, x + 6, y, WHITE, every=True)))
    return probes


def grid_probes(v, nodes=True, elements=True):
    """The undeformed grid's outline at rest (its left part: cases move nodes on the right),
    its bottom-left and top-left node points, or their absence. Where cells are fine, only what
    shows at that size: the left edge, and a grid that is there or not."""
    p = v.p
    left_mid = v.px(-p.hw, 0.5 * p.dy)  # half-way between two node rows
    top_between = v.px(-p.hw + 0.5 * p.dx, p.hh)
    corners = (0, p.corner(0, p.ny))
    probes = [("nothing left of the grid",
               lambda s: not s.near(left_mid[0] - 5, left_mid[1], BLACK, 1))]
    if v.fine():
        return probes + [("grid drawn" if nodes or elements else "no grid", lambda s: (
            s.near(*left_mid, BLACK, 1) and s.near(*v.px(0, 0), BLACK)) == (nodes or elements))]
    return probes + [
        ("left grid edge" if elements else "no left grid edge",
         lambda s: s.near(*left_mid, BLACK, 1) == elements),
        ("top grid edge between nodes" if elements else "no top grid edge",
         lambda s: s.near(*top_between, BLACK, 1) == elements),
        ("corner node points" if nodes else "no corner node points",
         lambda s: all(s.spot(*v.node(i)) == nodes for i in corners)),
    ]


def rgb(png):
    """The RGB bytes of a PNG file, row by row."""
    return subprocess.run(["convert", png, "rgb:-"], capture_output=True, check=True).stdout


def mask(data, colour, keep=lambda x, y: True, width=300):
    """Pixels of RGB bytes that have the colour, or with colour=None those that are not grey (a
    hue of their own)."""
    like = ((lambda px: max(px) - min(px) > 40) if colour is None else
            (lambda px: all(abs(px[c] - colour[c]) <= 60 for c in range(3))))
    return {(i % width, i // width) for i in range(len(data) // 3)
            if keep(i % width, i // width) and like(data[3 * i:3 * i + 3])}


def picture_as_recorded(page, png, p):
    """Fails unless the page's 300 x 300 picture (RGB bytes) has white corners, and its black and
    green pixels and those of the recorder's frame `png` lie within one pixel of each other, the
    label's text aside (the page writes it in the browser's font)."""
    lx, ly = View(p).px(-p.fw, -p.y_label)
    outside = lambda x, y: not (x >= lx - 2 and ly - 18 <= y <= ly + 6)
    near = lambda q, m: any((q[0] + i, q[1] + j) in m for i in (-1, 0, 1) for j in (-1, 0, 1))
    viewer = rgb(png)
    corners = [page[3 * i:3 * i + 3] for i in (0, 299, 299 * 300, 300 * 300 - 1)]
    if any(tuple(c) != WHITE for c in corners):
        raise Failure("the picture's corners are %r, not white" % [tuple(c) for c in corners])
    for name, colour in (("black", BLACK), ("green", GREEN)):
        ours, theirs = mask(page, colour, outside), mask(viewer, colour, outside)
        apart = [q for q in ours if not near(q, theirs)] + [q for q in theirs if not near(q, ours)]
        if apart or not ours:
            raise Failure("%s pixels of the page and the recorder's %s differ at %d places, "
                          "first %s" % (name, os.path.basename(png), len(apart), apart[:5]))


class Companion:
    """One run of a companion program (ctx.companion): its status, stdout and stderr."""

    def __init__(self, proc, out, err):
        self.proc, self._out, self._err = proc, out, err

    def finish(self, timeout=60):
        """Waits for the end; returns (status, stdout, stderr). Fails on a sanitizer report."""
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            end(self.proc)
            raise Failure("%s did not end within %g s" % (self.proc.args[0], timeout))
        out, err = (os.pread(f.fileno(), 1 << 24, 0).decode(errors="replace")
                    for f in (self._out, self._err))
        if any(mark in err for mark in SANITIZER_MARKS):
            raise Failure("sanitizer report: " + err)
        return status, out, err


class Context(Session):
    """What a case gets: the program's description and profile, a private X server, starting of
    viewers and companions, and folders that go when the case ends."""

    def __init__(self, description, artifacts):
        super().__init__(description["program"], artifacts)
        self.tools, self.profile = description, Profile(description)
        self._model = None
        self._folders = []
        self._served = []

    def folder(self, files=None):
        """A fresh folder holding `files` ({name: text, or fn(path)}), removed at the end."""
        path = tempfile.mkdtemp(prefix="meshplay-e2e-")
        self._folders.append(path)
        for name, content in (files or {}).items():
            if callable(content):
                content(os.path.join(path, name))
            else:
                with open(os.path.join(path, name), "w") as f:
                    f.write(content)
        return path

    def companion(self, tool, cwd, *args, env=None, limit=None, nofile=None):
        """Starts <program>-<tool> with `args` in `cwd`, on the case's display unless `env` says
        otherwise; `limit` is a file-size limit in bytes, `nofile` one of open files. Returns a
        Companion."""
        env = dict(env or self.env, ASAN_OPTIONS="detect_leaks=0")  # Mesa's and Xlib's, not ours

        def limits():
            if limit:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        proc = subprocess.Popen([self.tools[tool], *args], cwd=cwd, env=env, stdout=out,
                                stderr=err, preexec_fn=limits if limit or nofile else None)
        return Companion(proc, out, err)

    def close(self):
        for served in self._served:
            if served.proc.poll() is None:
                end(served.proc)
        for path in self._folders:
            shutil.rmtree(path, ignore_errors=True)
        return super().close()

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

    def serve(self, cwd, *args, nofile=None):
        """Starts <program>-serve with `args` (default: --port 0, a free port) in `cwd`, with at
        most `nofile` open files if given; returns a Served once it has printed its address."""
        c = self.companion("serve", cwd, *(args or ("--port", "0")), nofile=nofile)

        def address():
            if c.proc.poll() is not None:
                raise Failure("%s ended with status %d: %s" % (
                    c.proc.args[0], c.proc.returncode, os.pread(c._err.fileno(), 4096, 0)))
            line = os.pread(c._out.fileno(), 4096, 0).decode()
            return line.split("\n")[0] if "\n" in line else None
        self._served.append(c)
        return Served(c, poll(address, what="the server's address"))


class Served(Companion):
    """A running meshplay-X-serve: its process (a Companion), the address it printed, its port
    and token."""

    def __init__(self, companion, url):
        super().__init__(companion.proc, companion._out, companion._err)
        self.url = url
        parts = urllib.parse.urlsplit(url)
        self.port = parts.port
        self.token = urllib.parse.parse_qs(parts.query)["token"][0]

    def stderr(self):
        """What it has written to stderr so far."""
        return os.pread(self._err.fileno(), 1 << 20, 0).decode(errors="replace")

def main(run):
    # A case still running after 85 s (CTest ends most at 90) says where it is, once.
    faulthandler.dump_traceback_later(85)
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
