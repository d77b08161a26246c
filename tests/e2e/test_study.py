"""A study in a real browser (scripts/browsers.py): meshplay-X-serve on a folder of runs, two
ended at different time steps, one being written, one with a hostile name, one that appears while
serving. The index lists each with its state, steps and time, the names as text, and the one that
appears within two seconds; a name never listed is refused. The comparison of the two ended runs
shows, at a model time, each one's last step at or before it, drawn as the recorder draws that
step; one colour range over both; a click on a node plots its history with a curve for each run;
its address names the time. The same comparison written by meshplay-X-html plays offline. Run as
`test_study.py PROGRAM.json ARTIFACTS [ENGINE]`, Chromium without an engine."""

import json
import math
import os
import random
import struct
import sys

import harness
from harness import GEO, RES, TRI, Failure, View, mask, picture_as_recorded, poll, results
from stream_client import request

import browsers

# A folder's name that would be markup, a script's string or a second line if it were not text,
# with a byte that is no UTF-8 and the rest of the 255 a name may have.
HOSTILE = b"<b>\"x\" 'y' </script>\nz\xff"
HOSTILE += b"n" * (255 - len(HOSTILE))
HOSTILE_SHOWN = HOSTILE.decode("utf-8", errors="replace")


def run_records(p, dt, amplitude, seed):
    """Records every dt seconds to the end time, whose record ends the run; the top right node
    swaying, the others moved a little at random."""
    rng = random.Random(seed)
    corner = p.corner(p.nx, p.ny)
    steps = int(round(p.t_end / dt)) + 1
    out = []
    for k in range(steps):
        t = min(p.t_end, k * dt)
        moves = {i: (rng.uniform(-0.2, 0.2) * p.dx, rng.uniform(-0.2, 0.2) * p.dy)
                 for i in range(0, p.node_count, 7)}
        moves[corner] = (amplitude * math.sin(2 * math.pi * t / p.t_end) * p.dx, 0.0)
        out.append((t, moves))
    return out


def magnitudes(records):
    f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
    return [math.hypot(f32(x), f32(y)) for _, moves in records for x, y in moves.values()]


def step_at(times, t):
    """The step shown at model time t: the last at or before it, the first before any."""
    at = [k for k, s in enumerate(times) if s <= t]
    return at[-1] if at else 0


def run(ctx):
    p = ctx.profile
    model = ctx.model_files()
    study = ctx.folder()
    runs = {"motion-001": run_records(p, p.t_end / 100, 2.0, 1),
            "motion-002": run_records(p, p.t_end / 70, 3.0, 2)}
    for name, records in runs.items():
        os.makedirs(os.path.join(study, name))
        for file, text in dict(model, **{RES: results(p, records)}).items():
            with open(os.path.join(study, name, file), "w") as f:
                f.write(text)
        status, _, err = ctx.companion("record", os.path.join(study, name), "frames/",
                                       "--every", "1").finish(timeout=120)
        if status != 0:
            raise Failure("recording %s: %r" % (name, err))
    os.makedirs(os.path.join(study, "group", "live-003"))
    for file in (GEO, TRI):
        with open(os.path.join(study, "group", "live-003", file), "w") as f:
            f.write(model[file])
    hostile = os.path.join(study.encode(), HOSTILE)
    os.makedirs(hostile)
    for file, text in dict(model, **{RES: results(p, runs["motion-001"][:5])}).items():
        with open(os.path.join(hostile, file.encode()), "w") as f:
            f.write(text)

    server = ctx.serve(study, "--port", "0", study)  # twice the same folder: each run once
    engine = sys.argv[3] if len(sys.argv) > 3 else "chromium"
    b = browsers.ENGINES[engine](ctx.env, served=True)
    try:
        index(ctx, b, server, study, runs)
        compare(ctx, b, server, study, runs)
        offline(ctx, b, study, runs)
    finally:
        b.quit()
    server.proc.terminate()
    status, _, err = server.finish(timeout=10)
    if status != 0 or "Traceback" in err:
        raise Failure("the server ended with %d: %r" % (status, err))


def index(ctx, b, server, study, runs):
    p = ctx.profile
    b.open("http://127.0.0.1:%d/?token=%s" % (server.port, server.token))
    poll(lambda: b.run("return !!window.meshplay && meshplay.ready"), what="the index")
    live = open(os.path.join(study, "group", "live-003", RES), "w")
    live.write(results(p, runs["motion-001"][:7]))
    live.flush()
    rows = lambda: {r["name"]: r for r in b.run("return meshplay.runs")}
    poll(lambda: rows().get("group/live-003", {}).get("state") == "live", what="the live run")
    got = rows()
    want = {"motion-001": ("ended", len(runs["motion-001"]), float(p.t_end)),
            "motion-002": ("ended", len(runs["motion-002"]), float(p.t_end)),
            "group/live-003": ("live", 7, runs["motion-001"][6][0]),
            HOSTILE_SHOWN: ("live", 5, runs["motion-001"][4][0])}
    if {name: (r["state"], r["steps"], r["time"]) for name, r in got.items()} != want:
        raise Failure("the index's rows: %r" % got)
    # Names as text: in the table, in the title of the hostile run's page.
    texts = b.run("return [...document.querySelectorAll('.index td.name a')].map(a => "
                  "a.textContent).concat([document.querySelectorAll('.index b').length])")
    if sorted(texts[:-1]) != sorted(want) or texts[-1] != 0:
        raise Failure("the names in the table: %r" % texts)
    # A run that appears while serving: listed within two seconds.
    later = os.path.join(study, "motion-004")
    os.makedirs(later)
    with open(os.path.join(later, GEO), "w") as f:
        f.write(ctx.model_files()[GEO])
    listed = lambda: any(r["name"] == "motion-004" for r in json.loads(request(
        server.port, "/runs", {"X-Meshplay-Token": server.token})[2]))
    poll(listed, timeout=2.5, what="a new run to be listed by the server")
    poll(lambda: "motion-004" in rows(), what="a new run to be listed in the index")
    if rows()["motion-004"]["state"] != "failed" or "tridata.dat" not in \
            b.run("return document.querySelector('.index tbody').textContent"):
        raise Failure("a run without its triangles: %r" % rows()["motion-004"])
    live.close()
    # Its page: the run's name as text in its title.
    b.run("location.href = meshplay.runs.find(r => r.name.startsWith('<b>')).href")
    poll(lambda: b.run("return !!window.meshplay && meshplay.ready && meshplay.steps === 5"),
         what="the hostile run's page")
    title = b.run("return [document.title, document.querySelectorAll('.meshplay b').length]")
    # A title's white space is folded, as the browser folds it.
    if not title[0].startswith(" ".join(HOSTILE_SHOWN.split())) or title[1] != 0:
        raise Failure("the hostile run's page: %r" % title)
    # Names never listed, and ways around the list: refused.
    for target in ("/r/motion-009/", "/r/..%2Fmotion-001/", "/r/motion-001%2F/run",
                   "/r/%2E%2E/" + os.path.basename(study) + "/", "/compare?run=motion-001",
                   "/compare?run=motion-001&run=nope"):
        status = request(server.port, target, {"X-Meshplay-Token": server.token})[0]
        if status != 404:
            raise Failure("%s: answered %d" % (target, status))


def compare_checks(ctx, b, study, runs, how):
    """The comparison open in `b`: at a time where the runs' steps differ, each picture is its
    run's step as the recorder draws it, one colour range holds both, and a node's history has a
    curve for each run."""
    p = ctx.profile
    times = {name: [t for t, _ in records] for name, records in runs.items()}
    t = runs["motion-002"][9][0] + 0.4 * p.t_end / 70  # between motion-002's steps 9 and 10
    b.run("meshplay.seekTime(arguments[0])", t)
    want = [step_at(times[name], t) for name in ("motion-001", "motion-002")]
    got = b.run("return [meshplay.runs, meshplay.shown, meshplay.time, location.hash]")
    if got[:2] != [["motion-001", "motion-002"], want] or abs(got[2] - t) > 1e-9 \
            or got[3] != "#t=%s" % got[2]:
        raise Failure("%s at t = %r: runs, shown, time and address %r, expected shown %r"
                      % (how, t, got, want))
    for r, name in enumerate(("motion-001", "motion-002")):
        picture_as_recorded(b.pixels(".comparison figure:nth-of-type(%d) .picture" % (r + 1))[2],
                            os.path.join(study, name, "frames/frame-%06d.png" % want[r]), p)
    sizes = magnitudes(runs["motion-001"]) + magnitudes(runs["motion-002"])
    got = b.run("return meshplay.colourRange")
    if any(abs(a - w) > 1e-6 * max(w, 1e-12) for a, w in zip(got, [min(sizes), max(sizes)])):
        raise Failure("%s: one colour range %r, expected %r" % (how, got, [min(sizes),
                                                                           max(sizes)]))
    # The top right node, in the second picture: a curve of each run's colour.
    corner = p.corner(p.nx, p.ny)
    dx = runs["motion-002"][want[1]][1][corner][0]
    b.click(".comparison figure:nth-of-type(2) .picture", *View(p).node(corner, dx, 0))
    poll(lambda: b.run("return meshplay.node") == corner, what="the node's history")
    plot = b.pixels(".comparison .history")
    colours = [len(mask(plot[2], colour, width=plot[0])) for colour in ((31, 119, 180),
                                                                         (255, 127, 14))]
    if min(colours) < 50:
        raise Failure("%s: the plot's pixels of each run's colour: %r" % (how, colours))


def compare(ctx, b, server, study, runs):
    b.open("http://127.0.0.1:%d/" % server.port)  # the cookie holds the token
    poll(lambda: b.run("return !!window.meshplay && meshplay.ready"), what="the index again")
    b.run("meshplay.compare(['motion-001', 'motion-002'])")
    counts = [len(runs["motion-001"]), len(runs["motion-002"])]
    # The index's own meshplay has no steps: the comparison has come once it has.
    poll(lambda: b.run("return !!window.meshplay && !!meshplay.steps && meshplay.ready && "
                       "meshplay.steps.join() === arguments[0]", ",".join(map(str, counts))),
         what="the comparison's runs")
    compare_checks(ctx, b, study, runs, "served")


def offline(ctx, b, study, runs):
    page = os.path.join(study, "compared.html")
    status, _, err = ctx.companion("html", study, page, "motion-001", "motion-002").finish(
        timeout=60)
    if status != 0 or err:
        raise Failure("writing the comparison: %d %r" % (status, err))
    b.open("file://" + page)
    poll(lambda: b.run("return !!window.meshplay && meshplay.ready"), what="the offline page")
    compare_checks(ctx, b, study, runs, "offline")


harness.main(run)
