"""The web page in every browser engine Debian offers, under the case's Xvfb (scripts/browsers.py):
Chromium, Firefox ESR and WebKitGTK, each put through the same checks. #step=K opens there; steps
and times follow a cut and --every; at one step the page's canvas agrees with the recorder's PNG of
the same record within one pixel, the label aside; n and e take the points and the outlines away
without moving on; the colour box fills the triangles with colour; a click on a node plots its
history; play() advances about one model second per second; and nothing is requested beyond the
page itself. Run as `test_html.py PROGRAM.json ARTIFACTS [ENGINE]`: CTest gives each engine a case
of its own; without one, every engine runs in turn. The page's failures are among the companions'
cases."""

import collections
import math
import os
import random
import socket
import struct
import subprocess
import sys
import traceback

import harness
from harness import BLACK, RES, Failure, View, mask, picture_as_recorded, poll, results

import browsers  # beside xsession.py, on the path harness.py sets

VIRIDIS_MIDDLE = (31, 144, 139)  # the colour map half-way
# What a page's text may hold: markup, quotes, and characters beyond ASCII, one beyond 16 bits.
TITLE = "</script><b>A & B</b> @DATA@ @NONCE@ @STYLE@ \"quoted\" 'too' \u00e9t\u00e9 \u2603 \U0001d11e"
# A browser of old: no DecompressionStream, no WebGL 2.
LACKING = (b"delete window.DecompressionStream; const getContext = "
           b"HTMLCanvasElement.prototype.getContext; HTMLCanvasElement.prototype.getContext = "
           b"function (kind, ...rest) { return kind === 'webgl2' ? null : "
           b"getContext.call(this, kind, ...rest); };")
LOCAL = ("file:", "data:", "blob:")  # what a page may load without the network
# The page's start, with a second player beside its own, fed the same data: window.second.
SECOND_PLAYER = b"""const meta = JSON.parse(document.getElementById("meshplay-meta").textContent);
startPage(meta);
const root = document.body.appendChild(document.querySelector(".meshplay").cloneNode(true));
const second = createPlayer(root, meta);
window.second = second.api;
readChunks(pageBytes(document.getElementById("meshplay-data").textContent), second.store)
  .then(() => second.begin(0));"""


def open_page(b, path, anchor=""):
    b.open("file://" + path + anchor)
    poll(lambda: b.run("return !!(window.meshplay && meshplay.ready)"), 60, "the page to be ready")


class Pages:
    """The pages the cases open, written once, and what the cases know of them."""

    def __init__(self, work, fine_page, times, fine_times, colour_range, middle, lacking):
        self.work, self.fine_page, self.lacking = work, fine_page, lacking
        self.times, self.fine_times = times, fine_times
        self.colour_range, self.middle = colour_range, middle

    def path(self, name):
        return os.path.join(self.work, name)


CASES = []  # each run in every engine, one after another, a failure not hiding the rest


def case(fn):
    CASES.append(fn)
    return fn


@case
def opens_at_a_step_with_its_title(ctx, engine, b, pages):
    open_page(b, pages.path("run.html"), "#step=2")
    got = b.run("return [meshplay.steps, meshplay.step, meshplay.time, meshplay.colourRange, "
                "document.title, document.querySelector('.meshplay .title').textContent]")
    times = pages.times
    if got[:3] != [len(times), 2, times[2]] or got[4:] != [TITLE, TITLE] \
            or any(abs(a - b) > 1e-9 * b for a, b in zip(got[3], pages.colour_range)):
        raise Failure("#step=2: steps, step, time, colour range, title and heading are %r "
                      "(range expected %r)" % (got, pages.colour_range))


@case
def drawn_as_the_recorder_draws(ctx, engine, b, pages):
    """The page and the viewer's drawing, pixel for pixel within one, outside the label: the step
    the address opened, then one a seek draws."""
    open_page(b, pages.path("run.html"), "#step=2")
    for k in (2, 5):
        b.run("meshplay.seek(arguments[0])", k)
        page = b.pixels("picture")[2]
        picture_as_recorded(page, pages.path("frames/frame-%06d.png" % k), ctx.profile)


@case
def keys_and_colour_redraw_the_step_shown(ctx, engine, b, pages):
    """n, e, then the colour box: fewer black pixels in the grid's box, then none, then colour,
    one range for the whole run; the step stays, until r goes to the first."""
    p, view = ctx.profile, View(ctx.profile)
    open_page(b, pages.path("run.html"), "#step=5")
    page = b.pixels("picture")[2]
    top, bottom = view.px(0, p.hh + 3 * p.dy)[1], view.px(0, -p.hh)[1] - 3
    in_grid = lambda x, y: top <= y <= bottom
    counts = [(len(mask(page, BLACK, in_grid)), len(mask(page, None, in_grid)))]
    for act in (lambda: b.key("n"), lambda: b.key("e"), lambda: b.click("colour")):
        act()
        data = b.pixels("picture")[2]
        counts.append((len(mask(data, BLACK, in_grid)), len(mask(data, None, in_grid))))
    # One range for the whole run: the moved cell's triangles, half as far as the run's farthest
    # node (another step's), are the middle of the colour map, not its top.
    centre = [round(v) for v in pages.middle]
    colour = data[3 * (centre[1] * 300 + centre[0]):3 * (centre[1] * 300 + centre[0]) + 3]
    if any(abs(a - b) > 30 for a, b in zip(colour, VIRIDIS_MIDDLE)):
        raise Failure("a triangle half as far as the farthest is coloured %r, not %r"
                      % (tuple(colour), VIRIDIS_MIDDLE))
    shown = [b.run("return meshplay.step")]
    b.key("r")
    shown.append(b.run("return meshplay.step"))
    (black, _), (no_points, _), (none, grey), (_, coloured) = counts
    area = (bottom - top) * 2 * p.hw / view.model(1)
    if not (black > no_points > none == grey == 0 and coloured > area / 4) or shown != [5, 0]:
        raise Failure("(black, coloured) pixels in the grid with everything, without points, "
                      "without outlines, coloured: %r; the step shown, then after r: %r"
                      % (counts, shown))


@case
def a_cut_run_and_every_second_step(ctx, engine, b, pages):
    """A cut of the run and every second step of it, the last included."""
    times = pages.times
    open_page(b, pages.path("cut.html"))
    want = times[1:7:2] + ([times[6]] if (6 - 1) % 2 else [])
    got = b.run("return Array.from({length: meshplay.steps}, (_, k) => (meshplay.seek(k), "
                "meshplay.time))")
    if got != want:
        raise Failure("cut.html's times %r, expected %r" % (got, want))


@case
def a_nodes_history_and_clicks_on_it(ctx, engine, b, pages):
    p, view = ctx.profile, View(ctx.profile)
    # A click on the one node that moves in the fine run plots its history. Its dx is -A at the
    # first step, +A at the last and 0 between, its dy 0: the plot's range, the node's over every
    # step, puts dy (blue) half-way down the plotting area (its grey frame), and dx (red) at the
    # frame's bottom at the left end and at its top at the right.
    open_page(b, pages.fine_page)
    history = "return document.querySelector('.meshplay .history').offsetHeight > 0"
    before = b.run(history)
    b.click("picture", *view.node(p.corner(p.nx, p.ny), -p.dx / 4, 0))
    b.run("meshplay.seek(arguments[0])", len(pages.fine_times) // 2)  # the marker out of the way
    width, height, plot = b.pixels("history")
    frame = mask(plot, (153, 153, 153), width=width)
    rows = [y for y in range(height) if sum(1 for x in range(width) if (x, y) in frame) > width / 2]
    cols = [x for x in range(width) if sum(1 for y in range(height) if (x, y) in frame) > height / 3]
    if before or not b.run(history) or len(rows) < 2 or len(cols) < 2:
        raise Failure("a node's history: shown before the click %s, after %s; frame rows %r, "
                      "columns %r" % (before, b.run(history), rows, cols))
    (top, bottom), (left, right) = (rows[0], rows[-1]), (cols[0], cols[-1])
    inside = lambda x, y: left < x < right and top < y < bottom
    red, blue = (mask(plot, colour, inside, width) for colour in ((214, 39, 40), (31, 119, 180)))
    flat = collections.Counter(y for x, y in blue).most_common(1)[0][0] if blue else -1
    highest, lowest = min(red, key=lambda q: q[1]), max(red, key=lambda q: q[1])
    if abs(flat - (top + bottom) / 2) > 2 or highest[1] > top + 2 or lowest[1] < bottom - 2 \
            or highest[0] < right - 3 or lowest[0] > left + 3:
        raise Failure("the plot in its frame %r: the flat part at row %d, the highest point %r, "
                      "the lowest %r" % ((left, top, right, bottom), flat, highest, lowest))

    # The marker stands at the time of the step shown, and a click on it stays on that step.
    def marker(k):
        b.run("meshplay.seek(arguments[0])", k)
        data = b.pixels("history")[2]
        column = collections.Counter(x for x, y in mask(data, BLACK, width=width)
                                     if top < y < bottom).most_common(1)
        return column[0][0] if column and column[0][1] > (bottom - top) / 2 else None
    last, k = len(pages.fine_times) - 1, len(pages.fine_times) // 3
    ends, at = (marker(0), marker(last)), marker(k)
    want = ends[0] + (pages.fine_times[k] - pages.fine_times[0]) / (pages.fine_times[-1] - pages.fine_times[0]) * (
        ends[1] - ends[0]) if None not in ends else None
    if at is None or want is None or abs(at - want) > 1:
        raise Failure("the marker at steps 0 and %d in columns %r, at step %d in %r, not %r"
                      % (last, ends, k, at, want))
    b.click("history", 1 + at, (top + bottom) / 2)  # the column's left edge, past the border
    if b.run("return meshplay.step") != k:
        raise Failure("a click on the marker of step %d went to step %d"
                      % (k, b.run("return meshplay.step")))
    # A click away from the marker goes to the step drawn in that column: its own marker then
    # stands there.
    j = 2 * len(pages.fine_times) // 3
    far = round(ends[0] + (pages.fine_times[j] - pages.fine_times[0]) /
                (pages.fine_times[-1] - pages.fine_times[0]) * (ends[1] - ends[0]))
    b.click("history", 1 + far, (top + bottom) / 2)
    landed = b.run("return meshplay.step")
    if landed == k or marker(landed) is None or abs(marker(landed) - far) > 1:
        raise Failure("a click on column %d of the plot went to step %d, whose marker is in %r"
                      % (far, landed, marker(landed)))


@case
def a_key_acts_unless_the_focused_control_needs_it(ctx, engine, b, pages):
    open_page(b, pages.fine_page)
    # A key acts on the page unless the control with the focus needs it: space is a focused box's
    # (the page leaves it to the browser, which ticks the box: Firefox does not for keys a driver
    # sends to a window without the focus, which a window under Xvfb never has), s is the page's
    # in the speed list; a box ticked with the pointer lets the focus go.
    b.run("window.prevented = []; document.addEventListener('keydown', (e) => "
          "prevented.push(e.defaultPrevented)); document.querySelector('.meshplay .loop').focus()")
    b.key(" ")
    got = [b.run("return [document.querySelector('.meshplay .loop').checked || arguments[0], "
                 "meshplay.playing, prevented]", engine == "firefox")]
    b.run("document.querySelector('.meshplay .speed').focus()")
    b.key("s")
    got.append(b.run("return [meshplay.playing, document.querySelector('.meshplay .speed').value]"))
    b.run("meshplay.pause()")
    b.click("colour")
    b.key(" ")
    got.append(b.run("return [document.querySelector('.meshplay .colour').checked, meshplay.playing]"))
    b.run("meshplay.pause(); meshplay.seek(0); const loop = document.querySelector('.meshplay .loop');"
          "if (loop.checked) loop.click(); loop.blur();")
    if got != [[True, False, [False]], [True, "1"], [True, True]]:
        raise Failure("space on a focused box (ticked, playing, its default prevented), s in the "
                      "speed list, space after a click on a box: %r" % got)


@case
def plays_in_model_time_to_the_end(ctx, engine, b, pages):
    fine_times = pages.fine_times
    open_page(b, pages.fine_page)
    # Played in model time, records every 10 ms: over a second of frames, the model time shown
    # at each frame against the frame's own time stamp, so that however slowly a busy machine
    # draws, a player that ran by frames, not by time, would show. Then from near the end, to the
    # last step, where it stops.
    got = b.run_async("""
        const done = arguments[0], seen = [];
        meshplay.play();
        const started = [meshplay.playing, meshplay.time];
        requestAnimationFrame(function sample(now) {
          seen.push([now, meshplay.time]);
          if (now - seen[0][0] < 1000) return requestAnimationFrame(sample);
          meshplay.pause();
          const [[t0, m0], [t1, m1]] = [seen[0], seen[seen.length - 1]];
          done([started, meshplay.playing, (m1 - m0) / ((t1 - t0) / 1000)]);
        });""")
    ended = b.run_async("""
        const [from, done] = arguments, t0 = performance.now();
        meshplay.seek(from);
        meshplay.play();
        (function wait() {
          if (meshplay.playing && performance.now() - t0 < 5000) setTimeout(wait, 20);
          else done([meshplay.playing, meshplay.step, meshplay.time]);
        })();""", len(fine_times) - 20)
    if got[0] != [True, 0] or got[1] or not 0.9 <= got[2] <= 1.1 \
            or ended != [False, len(fine_times) - 1, fine_times[-1]]:
        raise Failure("play(), a second, pause(): playing and time %r, then playing %r, model "
                      "seconds a second %.2f; played from near the end: playing, step and time "
                      "%r" % (*got, ended))


@case
def a_lost_context_is_said_and_drawn_again(ctx, engine, b, pages):
    open_page(b, pages.path("run.html"))
    # The WebGL context taken away and given back: said, then drawn again.
    said = b.run_async("""
        const done = arguments[0], canvas = meshplay.canvas;
        const lose = canvas.getContext("webgl2").getExtension("WEBGL_lose_context");
        const status = () => document.querySelector(".meshplay .status").textContent;
        canvas.addEventListener("webglcontextlost", () => setTimeout(() => {
          const lost = status();
          canvas.addEventListener("webglcontextrestored", () => setTimeout(() =>
            done([lost, status()]), 50), { once: true });
          lose.restoreContext();
        }, 50), { once: true });
        lose.loseContext();""")
    if "WebGL context" not in said[0] or "time steps" not in said[1] \
            or not mask(b.pixels("picture")[2], BLACK):
        raise Failure("the WebGL context lost, then restored: the page said %r, then %r" % said)


@case
def a_browser_that_lacks_what_it_needs_is_told(ctx, engine, b, pages):
    # A browser without DecompressionStream and WebGL 2 is told so, and the controls stay off.
    b.open("file://" + pages.lacking)
    poll(lambda: "lacks" in b.run("return document.querySelector('.meshplay .status').textContent"),
         what="the page to say what the browser lacks")
    b.key("s")
    b.run("meshplay.play()")
    got = b.run("return [document.querySelector('.meshplay .status').textContent, meshplay.playing, "
                "meshplay.ready, document.querySelector('.meshplay .play').disabled]")
    if not ("DecompressionStream" in got[0] and "WebGL 2" in got[0]) or got[1:] != [False, False, True]:
        raise Failure("without DecompressionStream and WebGL 2: status, playing, ready and the "
                      "play button disabled: %r" % got)


@case
def two_players_on_one_page_go_their_own_ways(ctx, engine, b, pages):
    """two.html holds a second player made from the same data, as a page of several would: each
    keeps its own step and colour, draws its own picture, and the keys go to the one last used."""
    open_page(b, pages.path("two.html"))
    poll(lambda: b.run("return second.ready"), what="the second player to be ready")
    b.run("meshplay.seek(5); second.seek(1)")
    b.click("div.meshplay:last-of-type .colour")
    b.key("r")  # the first step, in the second player alone
    got = b.run_async("""
        const done = arguments[0], picture = (p) => p.canvas.toDataURL();
        requestAnimationFrame(() => requestAnimationFrame(() => done([
          meshplay.step, second.step, second.steps, meshplay.canvas !== second.canvas,
          document.querySelectorAll(".meshplay .colourbar:not([hidden])").length,
          picture(meshplay) !== picture(second)])));""")
    if got != [5, 0, len(pages.times), True, 1, True]:
        raise Failure("two players: steps %r and %r of %r, canvases apart %r, colour bars shown "
                      "%r, pictures differ %r" % tuple(got))


@case
def fits_a_phones_width(ctx, engine, b, pages):
    # A phone's width (or as near as the engine's window goes: WebKitGTK's, 447): a page of one
    # step and a title of 10000 characters fits it.
    b.viewport(360, 740)
    open_page(b, pages.path("one.html"))
    got = b.run("return [document.documentElement.scrollWidth, "
                "document.querySelector('.meshplay .status').textContent]")
    if got[0] > b.wide() or b.wide() > 460 or ": 1 time step, " not in got[1]:
        raise Failure("%d CSS pixels wide: the page takes %d, and says %r" % (b.wide(), *got))


@case
def nothing_beyond_the_pages_is_asked_for(ctx, engine, b, pages):
    # Nothing but the pages themselves asked for; and a request does show, one made here.
    outside = [url for url in b.requests() if not url.startswith(LOCAL)]
    if outside:
        raise Failure("requests beyond the pages: %r" % outside[:3])
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))  # a port where nothing listens
        probe = "http://127.0.0.1:%d/probe" % s.getsockname()[1]
    b.run("fetch(arguments[0]).catch(() => 0)", probe)
    poll(lambda: probe in b.requests(), what="a request of the page to be seen")


def crisp(ctx, work, node, spot):
    """At a device pixel ratio of 1.5 (Chromium alone can be told one), the picture is 400 CSS
    pixels wide, each of its pixels 2 x 2 of the screen's, never smoothed: no grey in it, the
    label's text aside (smoothed, a fifth of the mesh was grey); and a click on a node, scaled as
    the picture is, plots that node."""
    p, view = ctx.profile, View(ctx.profile)
    b = browsers.Chromium(ctx.env, scale=1.5)
    try:
        open_page(b, os.path.join(work, "run.html"), "#step=5")
        b.pixels("picture")  # drawn
        left, top, width = (1.5 * v for v in b.run(
            "const r = meshplay.canvas.getBoundingClientRect(); return [r.left, r.top, r.width];"))
        shot = os.path.join(ctx.folder(), "shot.png")
        with open(shot, "wb") as f:
            f.write(b.screenshot())
        _, label = view.px(-p.fw, -p.y_label)
        # A device pixel in from each side: the frame around the picture is grey.
        crop = "%dx%d+%d+%d" % (width - 2, width - 2, left + 1, top + 1)
        data = subprocess.run(["convert", shot, "-crop", crop, "rgb:-"], capture_output=True,
                              check=True).stdout
        grey = [(x, y) for x, y in mask(data, (128, 128, 128), width=round(width) - 2)
                if not label - 20 <= (y + 1) / 2 <= label + 8]
        b.click("picture", *(v * 4 / 3 for v in spot))
        chosen = b.run("return meshplay.node")
        if width != 600 or grey or chosen != node:
            raise Failure("at 1.5 device pixels to a CSS pixel the picture is %d pixels wide, with "
                          "%d grey ones, first %r; a click on node %d plots node %d"
                          % (width, len(grey), grey[:3], node, chosen))
    finally:
        b.quit()


def run(ctx):
    p = ctx.profile
    rng = random.Random(5)
    times = [k * 0.37 * p.t_end / 8 for k in range(8)]
    moves = [{i: (rng.uniform(-2, 2) * p.dx, rng.uniform(-2, 2) * p.dy)
              for i in range(p.node_count)} for _ in times]
    # The run's displacements range from 0 (node 0 at step 0) to `far` (node 0 at step 1); at
    # step 5 the top-right cell moves half as far, to the middle of the colour map.
    far = 4 * max(p.dx, p.dy)
    moves[0][0], moves[1][0] = (0.0, 0.0), (far, 0.0)
    cell = [p.corner(p.nx - 1, p.ny - 1), p.corner(p.nx, p.ny)]  # bottom left, top right
    for i in cell + [p.corner(p.nx, p.ny - 1), p.corner(p.nx - 1, p.ny)]:
        moves[5][i] = (far / 2, 0.0)
    middle = [sum(c) / 2 for c in zip(*(View(p).node(i, far / 2, 0) for i in cell))]
    f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
    sizes = [math.hypot(f32(x), f32(y)) for step in moves for x, y in step.values()]
    work = ctx.folder(dict(ctx.model_files(), **{RES: results(p, zip(times, moves))}))
    # Records every 10 ms over most of the run, the top-right node alone moving: by -A at the
    # first, +A at the last.
    fine = [k / 100 for k in range(int(p.t_end * 90))]
    ends = {0: -p.dx / 4, len(fine) - 1: p.dx / 4}
    fine_work = ctx.folder(dict(ctx.model_files(), **{RES: results(
        p, [(t, {p.corner(p.nx, p.ny): (ends[k], 0)} if k in ends else {})
            for k, t in enumerate(fine)])}))
    for tool, cwd, args in (
            ("html", work, ["run.html", "--title", TITLE]),
            ("html", work, ["cut.html", "--every", "2", "--from", repr(times[1]), "--to",
                            repr(times[6])]),
            ("html", work, ["one.html", "--from", repr(times[3]), "--to", repr(times[3]),
                            "--title", "meshplay" * 1250]),
            ("record", work, ["frames/", "--every", "1"]),
            ("html", fine_work, ["fine.html"])):
        status, _, err = ctx.companion(tool, cwd, *args).finish(timeout=120)
        if status != 0 or err:
            raise Failure("%s %s: status %d, %r" % (tool, args, status, err))
    # The page in a browser that lacks what it needs; and with a second player made beside its
    # own, in its own scope, as a page of several players makes them.
    lacking = os.path.join(work, "lacking.html")
    with open(os.path.join(work, "run.html"), "rb") as f:
        page = f.read()
    with open(lacking, "wb") as out:
        out.write(page.replace(b"<head>", b"<head><script>" + LACKING + b"</script>", 1))
    start = b'startPage(JSON.parse(document.getElementById("meshplay-meta").textContent));'
    if start not in page:
        raise Failure("run.html does not start its player as this test knows")
    with open(os.path.join(work, "two.html"), "wb") as out:
        out.write(page.replace(start, SECOND_PLAYER, 1))
    failures = []
    for engine in sys.argv[3:] or browsers.ENGINES:
        b = browsers.ENGINES[engine](ctx.env)
        try:
            pages = Pages(work, os.path.join(fine_work, "fine.html"), times, fine,
                          [min(sizes), max(sizes)], middle, lacking)
            for fn in CASES:
                try:
                    fn(ctx, engine, b, pages)
                except Exception as e:  # a driver's error too: the other cases still run
                    failures.append("%s: %s: %s" % (engine, fn.__name__, e if isinstance(
                        e, Failure) else traceback.format_exc(limit=-2)))
        finally:
            b.quit()
        if engine == "chromium":
            corner = p.corner(p.nx, p.ny)
            crisp(ctx, work, corner, View(p).node(corner, far / 2, 0))
    if failures:
        raise Failure("\n".join(failures))


harness.main(run)
