#!/usr/bin/env python3
"""The web page's size and speed: meshplay-X-html on each profile's demo (default: profile B), then
the page in each browser engine Debian offers (scripts/browsers.py, under a private Xvfb, as the
tests run them).

Prints, per profile: the page's bytes per displacement value (plain base64 of 32-bit floats would
take 16/3 = 5.33); the writing rate next to reading alone (the exporter stepping the same run with
nothing written but its first and last steps), best of REPS runs; per engine, the time from
navigation to `meshplay.ready` (median) and a seek with its draw (the animation frame that draws
it, GL work finished; the mean of 100), timed by the page's own clock; and the bytes per value,
exact and at --digits 4, of the demo and of the same run with noise in the 7th significant digit
of every displacement, as real solver output has, which compresses less than the smooth demo.

Usage: python3 bench/html.py BUILD_DIR [a b ...]
Environment: REPS (default 5), ENGINES (default: chromium firefox webkitgtk)."""

import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import browsers  # noqa: E402
import xsession  # noqa: E402

build = os.path.abspath(sys.argv[1])
profiles = sys.argv[2:] or ["b"]
reps = int(os.environ.get("REPS", "5"))
engines = os.environ.get("ENGINES", " ".join(browsers.ENGINES)).split()
# Milliseconds from navigation to ready, by the page's clock (0 at navigation).
READY = """
const done = arguments[0];
(function wait() {
  if (window.meshplay && meshplay.ready) done(performance.now());
  else setTimeout(wait, 1);
})();"""
# Seeks, each followed by the frame that draws it: the first callback of that frame is ours,
# registered before seek() registers the page's, and the last is ours too, once the GL work is
# finished. Firefox's and WebKitGTK's clocks tick in whole milliseconds (Chromium's in tenths), at
# no fixed phase to the frames: the mean of many such times is the cost, where a median would be a
# whole number of ticks.
SEEKS = """
const [ks, done] = arguments, gl = meshplay.canvas.getContext("webgl2"), times = [];
(function next(i) {
  if (i === ks.length) return done(times);
  let frame;
  requestAnimationFrame(() => { frame = performance.now(); });
  const start = performance.now();
  meshplay.seek(ks[i]);
  const seek = performance.now() - start;
  requestAnimationFrame(() => {
    gl.finish();
    times.push(seek + performance.now() - frame);
    next(i + 1);
  });
})(0);"""


def best(command, cwd):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def in_browser(engine, env, page, steps):
    """(navigation to ready, median; a seek and its draw, mean) in seconds."""
    b = browsers.ENGINES[engine](env)
    try:
        ready = []
        for _ in range(reps):
            b.open("file://" + page)
            ready.append(b.run_async(READY) / 1000)
        seeks = b.run_async(SEEKS, [(k * 37) % steps for k in range(100)])
        return statistics.median(ready), statistics.mean(seeks) / 1000
    finally:
        b.quit()


def noisy(folder, facts):
    """The demo's result.dat with every displacement changed by up to a thousandth of itself."""
    rng = random.Random(3)
    header = facts["HEADER_VALUES"]
    nodes = facts["NODE_COUNT"]
    with open(os.path.join(folder, "result.dat")) as f, \
            open(os.path.join(folder, "noisy.dat"), "w") as out:
        values = f.read().split()
        record = facts["RECORD_VALUES"]
        for r in range(0, len(values) - record + 1, record):
            row = values[r:r + record]
            for j in range(header, header + 2 * nodes):
                v = float(row[j])
                row[j] = "%.6e" % (v * (1 + rng.uniform(-1e-3, 1e-3)))
            out.write(" ".join(row) + "\n")
    os.replace(os.path.join(folder, "noisy.dat"), os.path.join(folder, "result.dat"))


def measure(profile, env):
    with open(os.path.join(build, "meshplay-%s.json" % profile)) as f:
        facts = json.load(f)
    work = tempfile.mkdtemp(prefix="meshplay-bench-html-")
    try:
        tool = lambda name: os.path.join(build, "meshplay-%s-%s" % (profile, name))
        subprocess.run([tool("demodata"), work], check=True, stdout=subprocess.DEVNULL)
        reading = best([tool("export"), "read.msh", "--every", "1000000000"], work)
        writing = best([tool("html"), "page.html"], work)
        page = os.path.join(work, "page.html")
        steps = facts["T_END"] * 100 + 1
        values = steps * 2 * facts["NODE_COUNT"]
        size = os.path.getsize(page)
        timed = {engine: in_browser(engine, env, page, steps) for engine in engines}
        sizes = {}  # bytes a value, exact and at --digits 4, of the demo and of the noisy run
        for run in ("demo", "noisy"):
            if run == "noisy":
                noisy(work, facts)
            for digits in ([], ["--digits", "4"]):
                subprocess.run([tool("html"), "size.html", *digits], cwd=work, check=True)
                sizes[run, bool(digits)] = os.path.getsize(os.path.join(work, "size.html")) / values
        print("Web page of the profile-%s demo, %d steps of %d nodes (best or median of %d):"
              % (profile.upper(), steps, facts["NODE_COUNT"], reps))
        print("  page %.2f MB: %.2f bytes a displacement value (base64 of float32: 5.33)"
              % (size / 1e6, size / values))
        print("  writing %.3f s, %.0f steps/s; reading alone %.3f s: %.2f of reading's rate"
              % (writing, steps / writing, reading, reading / writing))
        for engine, (ready, seek) in timed.items():
            print("  %-9s navigation to ready %.3f s; a seek and its draw %.2f ms"
                  % (engine + ":", ready, seek * 1e3))
        print("  bytes a value          exact   --digits 4")
        for run in ("demo", "noisy"):
            print("  %-20s %7.2f %10.2f" % (run, sizes[run, False], sizes[run, True]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


server, display = xsession.xvfb()
try:
    for p in profiles:
        measure(p, display)
finally:
    xsession.end(server)
