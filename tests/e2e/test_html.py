"""The web page in every browser engine Debian offers, under the case's Xvfb (scripts/browsers.py):
Chromium, Firefox ESR and WebKitGTK, each put through the same checks. #step=K opens there; steps
and times follow a cut and --every; at one step the page's canvas agrees with the recorder's PNG of
the same record within one pixel, the label aside; n and e take the points and the outlines away
without moving on; the colour box fills the triangles with colour; a click on a node plots its
history; play() advances about one model second per second; and nothing is requested beyond the
page itself. Run as `test_html.py PROGRAM.json ARTIFACTS [ENGINE]`: CTest gives each engine a case
of its own; without one, every engine runs in turn. The page's failures are among the companions'
cases."""

import math
import os
import random
import socket
import subprocess
import sys

import harness
from harness import RES, Failure, View, poll, results

import browsers  # beside xsession.py, on the path harness.py sets

BLACK, GREEN = (0, 0, 0), (0, 255, 128)
LOCAL = ("file:", "data:", "blob:")  # what a page may load without the network


def rgb(png):
    return subprocess.run(["convert", png, "rgb:-"], capture_output=True, check=True).stdout


def mask(data, colour, keep=lambda x, y: True, width=300):
    """Pixels of the colour, or with colour=None those that are not grey (a hue of their own)."""
    like = ((lambda px: max(px) - min(px) > 40) if colour is None else
            (lambda px: all(abs(px[c] - colour[c]) <= 60 for c in range(3))))
    return {(i % width, i // width) for i in range(len(data) // 3)
            if keep(i % width, i // width) and like(data[3 * i:3 * i + 3])}


def open_page(b, path, anchor=""):
    b.open("file://" + path + anchor)
    poll(lambda: b.run("return !!(window.meshplay && meshplay.ready)"), 60, "the page to be ready")


def check(ctx, b, work, fine_page, times, fine_times):
    p, view = ctx.profile, View(ctx.profile)
    open_page(b, os.path.join(work, "run.html"), "#step=2")
    got = b.run("return [meshplay.steps, meshplay.step, meshplay.time]")
    if got != [len(times), 2, times[2]]:
        raise Failure("#step=2: steps, step and time are %r" % got)

    # The page and the viewer's drawing, pixel for pixel within one, outside the label: the step
    # the address opened, then one a seek draws.
    lx, ly = view.px(-p.fw, -p.y_label)
    outside = lambda x, y: not (x >= lx - 2 and ly - 18 <= y <= ly + 6)
    near = lambda q, m: any((q[0] + i, q[1] + j) in m for i in (-1, 0, 1) for j in (-1, 0, 1))
    for k in (2, 5):
        b.run("meshplay.seek(arguments[0])", k)
        page, viewer = b.pixels("picture")[2], rgb(os.path.join(work, "frames/frame-%06d.png" % k))
        for name, colour in (("black", BLACK), ("green", GREEN)):
            ours, theirs = mask(page, colour, outside), mask(viewer, colour, outside)
            apart = [q for q in ours if not near(q, theirs)] + [q for q in theirs
                                                                if not near(q, ours)]
            if apart or not ours:
                raise Failure("%s pixels of the page and the recorder's frame %d differ at %d "
                              "places, first %s" % (name, k, len(apart), apart[:5]))

    # n, e, then the colour box: fewer black pixels in the grid's box, then none, then colour;
    # the step stays, until r goes to the first.
    top, bottom = view.px(0, p.hh + 3 * p.dy)[1], view.px(0, -p.hh)[1] - 3
    in_grid = lambda x, y: top <= y <= bottom
    counts = [(len(mask(page, BLACK, in_grid)), len(mask(page, None, in_grid)))]
    for act in (lambda: b.key("n"), lambda: b.key("e"), lambda: b.click("colour")):
        act()
        data = b.pixels("picture")[2]
        counts.append((len(mask(data, BLACK, in_grid)), len(mask(data, None, in_grid))))
    shown = [b.run("return meshplay.step")]
    b.key("r")
    shown.append(b.run("return meshplay.step"))
    (black, _), (no_points, _), (none, grey), (_, coloured) = counts
    area = (bottom - top) * 2 * p.hw / view.model(1)
    if not (black > no_points > none == grey == 0 and coloured > area / 4) or shown != [5, 0]:
        raise Failure("(black, coloured) pixels in the grid with everything, without points, "
                      "without outlines, coloured: %r; the step shown, then after r: %r"
                      % (counts, shown))

    # A cut of the run and every second step of it, the last included.
    open_page(b, os.path.join(work, "cut.html"))
    want = times[1:7:2] + ([times[6]] if (6 - 1) % 2 else [])
    got = b.run("return Array.from({length: meshplay.steps}, (_, k) => (meshplay.seek(k), "
                "meshplay.time))")
    if got != want:
        raise Failure("cut.html's times %r, expected %r" % (got, want))

    # A click on the one node that moves in the fine run plots its history: curves over most of
    # the plot's width, and of its height (another node's would be flat).
    open_page(b, fine_page)
    history = "return document.getElementById('history').offsetHeight > 0"
    before = b.run(history)
    b.click("picture", *view.node(p.corner(p.nx, p.ny)))
    width, height, plot = b.pixels("history")
    curves = mask(plot, None, width=width)
    spans = len({x for x, y in curves}), len({y for x, y in curves})
    if before or not b.run(history) or spans[0] < width / 2 or spans[1] < height / 2:
        raise Failure("a node's history: shown before the click %s, after %s, coloured pixels in "
                      "%d columns and %d rows of %d x %d"
                      % (before, b.run(history), *spans, width, height))

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

    # Nothing but the pages themselves asked for; and a request does show, one made here.
    outside = [url for url in b.requests() if not url.startswith(LOCAL)]
    if outside:
        raise Failure("requests beyond the pages: %r" % outside[:3])
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))  # a port where nothing listens
        probe = "http://127.0.0.1:%d/probe" % s.getsockname()[1]
    b.run("fetch(arguments[0]).catch(() => 0)", probe)
    poll(lambda: probe in b.requests(), what="a request of the page to be seen")


def run(ctx):
    p = ctx.profile
    rng = random.Random(5)
    times = [k * 0.37 * p.t_end / 8 for k in range(8)]
    moves = [{i: (rng.uniform(-2, 2) * p.dx, rng.uniform(-2, 2) * p.dy)
              for i in range(p.node_count)} for _ in times]
    work = ctx.folder(dict(ctx.model_files(), **{RES: results(p, zip(times, moves))}))
    # Records every 10 ms over most of the run, the top-right node alone swaying once a second.
    fine = [k / 100 for k in range(int(p.t_end * 90))]
    sway = lambda t: {p.corner(p.nx, p.ny): (p.dx / 4 * math.sin(2 * math.pi * t), 0)}
    fine_work = ctx.folder(dict(ctx.model_files(),
                                **{RES: results(p, [(t, sway(t)) for t in fine])}))
    for tool, cwd, args in (
            ("html", work, ["run.html"]),
            ("html", work, ["cut.html", "--every", "2", "--from", repr(times[1]), "--to",
                            repr(times[6])]),
            ("record", work, ["frames/", "--every", "1"]),
            ("html", fine_work, ["fine.html"])):
        status, _, err = ctx.companion(tool, cwd, *args).finish(timeout=120)
        if status != 0 or err:
            raise Failure("%s %s: status %d, %r" % (tool, args, status, err))
    for engine in sys.argv[3:] or browsers.ENGINES:
        b = browsers.ENGINES[engine](ctx.env)
        try:
            check(ctx, b, work, os.path.join(fine_work, "fine.html"), times, fine)
        except Failure as e:
            raise Failure("%s: %s" % (engine, e))
        finally:
            b.quit()


harness.main(run)
