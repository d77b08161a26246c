#!/usr/bin/env python3
"""The web page's size and speed: meshplay-X-html on each profile's demo (default: profile B), then
the page in headless Chromium (SwiftShader's WebGL, as the tests use it).

Prints, per profile: the page's bytes per displacement value (plain base64 of 32-bit floats would
take 16/3 = 5.33); the writing rate next to reading alone (the exporter stepping the same run with
nothing written but its first and last steps), best of REPS runs; the time from navigation to
`meshplay.ready`, and a seek with its draw (the drawing animation frame, GL work finished),
medians; and the bytes per value of the same run with noise on every displacement, as real solver
output has, which compresses less than the smooth demo.

Usage: python3 bench/html.py BUILD_DIR [a b ...]    Environment: REPS (default 5)."""

import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

build = os.path.abspath(sys.argv[1])
profiles = sys.argv[2:] or ["b"]
reps = int(os.environ.get("REPS", "5"))
FLAGS = ("--headless=new", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
         "--force-device-scale-factor=1", "--no-sandbox", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync")
# Times each animation frame's callbacks with their GL work finished, for the seek's draw.
TIMED_FRAMES = """
const raf = window.requestAnimationFrame.bind(window);
window.requestAnimationFrame = (callback) => raf((t) => {
  const start = performance.now();
  callback(t);
  if (window.meshplay && meshplay.canvas) meshplay.canvas.getContext("webgl2").finish();
  window.frameMs = performance.now() - start;
});
"""


def best(command, cwd):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return min(times)


def browser(profile_dir):
    options = webdriver.ChromeOptions()
    for flag in FLAGS + ("--user-data-dir=" + profile_dir,):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": TIMED_FRAMES})
    return d


def in_browser(page, steps):
    """(navigation to ready, seek and draw) in seconds, medians."""
    work = tempfile.mkdtemp(prefix="meshplay-bench-chromium-")
    d = browser(work)
    try:
        ready, seeks = [], []
        for _ in range(reps):
            d.get("file://" + page)
            ready.append(d.execute_async_script("""
                const done = arguments[0];
                (function wait() {
                  if (window.meshplay && meshplay.ready) done(performance.now());
                  else setTimeout(wait, 1);
                })();""") / 1000)
        for k in range(20):
            seeks.append(d.execute_async_script("""
                const [k, done] = arguments;
                const start = performance.now();
                meshplay.seek(k);
                const seek = performance.now() - start;
                requestAnimationFrame(() => requestAnimationFrame(() => done(seek + frameMs)));
                """, (k * 37) % steps) / 1000)
        return statistics.median(ready), statistics.median(seeks)
    finally:
        d.quit()
        shutil.rmtree(work, ignore_errors=True)


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


def measure(profile):
    import json
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
        ready, seek = in_browser(page, steps)
        noisy(work, facts)
        subprocess.run([tool("html"), "noisy.html"], cwd=work, check=True)
        noisy_size = os.path.getsize(os.path.join(work, "noisy.html"))
        print("Web page of the profile-%s demo, %d steps of %d nodes (best or median of %d):"
              % (profile.upper(), steps, facts["NODE_COUNT"], reps))
        print("  page %.2f MB: %.2f bytes a displacement value (base64 of float32: 5.33)"
              % (size / 1e6, size / values))
        print("  writing %.3f s, %.0f steps/s; reading alone %.3f s: %.2f of reading's rate"
              % (writing, steps / writing, reading, reading / writing))
        print("  Chromium: navigation to ready %.3f s; a seek and its draw %.2f ms"
              % (ready, seek * 1e3))
        print("  with noise on every displacement: %.2f bytes a value" % (noisy_size / values))
    finally:
        shutil.rmtree(work, ignore_errors=True)


for p in profiles:
    measure(p)
