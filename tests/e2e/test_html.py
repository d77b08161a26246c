"""The web page in a real browser: Debian's Chromium, headless with SwiftShader's WebGL, driven by
selenium. At one step the page's canvas agrees with the recorder's PNG of the same record within
one pixel, the label aside; #step=K opens there; steps and times follow a cut and --every; n and e
take the points and the outlines away; play() advances about one model second per second; and
nothing is requested beyond the page itself. Its failures are among the companions' cases."""

import base64
import json
import os
import random
import subprocess
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

import harness
from harness import RES, Failure, View, results

FLAGS = ("--headless=new", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
         "--force-device-scale-factor=1", "--no-sandbox", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync")
BLACK, GREEN = (0, 0, 0), (0, 255, 128)


def browser(ctx):
    options = webdriver.ChromeOptions()
    for flag in FLAGS + ("--user-data-dir=" + ctx.folder(),):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def open_page(d, path, anchor=""):
    d.get("file://" + path + anchor)
    harness.poll(lambda: d.execute_script("return !!(window.meshplay && meshplay.ready)"),
                 what="the page to be ready")


def canvas(d, folder):
    """The canvas's pixels, once the next animation frame has drawn the step asked for."""
    d.execute_async_script("requestAnimationFrame(() => requestAnimationFrame(arguments[0]))")
    png = os.path.join(folder, "canvas.png")
    with open(png, "wb") as f:
        f.write(base64.b64decode(d.execute_script(
            "return meshplay.canvas.toDataURL('image/png')").split(",")[1]))
    return rgb(png)


def rgb(png):
    return subprocess.run(["convert", png, "rgb:-"], capture_output=True, check=True).stdout


def mask(data, colour, leave_out=lambda x, y: False):
    return {(i % 300, i // 300) for i in range(300 * 300) if not leave_out(i % 300, i // 300)
            and all(abs(data[3 * i + c] - colour[c]) <= 60 for c in range(3))}


def run(ctx):
    p = ctx.profile
    rng = random.Random(5)
    moves = lambda: {i: (rng.uniform(-2, 2) * p.dx, rng.uniform(-2, 2) * p.dy)
                     for i in range(p.node_count)}
    times = [k * 0.37 * p.t_end / 8 for k in range(8)]
    work = ctx.folder(dict(ctx.model_files(), **{RES: results(p, [(t, moves()) for t in times])}))
    for tool, args in (("html", ["run.html"]), ("html", ["cut.html", "--every", "2", "--from",
                                                         repr(times[1]), "--to", repr(times[6])]),
                       ("record", ["frames/", "--every", "1"])):
        status, _, err = ctx.companion(tool, work, *args).finish(timeout=120)
        if status != 0 or err:
            raise Failure("%s %s: status %d, %r" % (tool, args, status, err))
    d = browser(ctx)
    try:
        k = 5
        open_page(d, os.path.join(work, "run.html"), "#step=%d" % k)
        got = d.execute_script("return [meshplay.steps, meshplay.step, meshplay.time]")
        if got != [len(times), k, times[k]]:
            raise Failure("#step=%d: steps, step and time are %r" % (k, got))
        # The page and the viewer's drawing, pixel for pixel within one, outside the label.
        view = View(p)
        lx, ly = view.px(-p.fw, -p.y_label)
        label = lambda x, y: x >= lx - 2 and ly - 18 <= y <= ly + 6
        page, viewer = canvas(d, work), rgb(os.path.join(work, "frames/frame-%06d.png" % k))
        for name, colour in (("black", BLACK), ("green", GREEN)):
            a, b = mask(page, colour, label), mask(viewer, colour, label)
            near = lambda q, m: any((q[0] + i, q[1] + j) in m for i in (-1, 0, 1) for j in (-1, 0, 1))
            apart = [q for q in a if not near(q, b)] + [q for q in b if not near(q, a)]
            if apart or not a:
                raise Failure("%s pixels of the page and the recorder's frame %d differ at %d "
                              "places, first %s" % (name, k, len(apart), apart[:5]))

        # n and then e: fewer black pixels in the grid's box, then none.
        top, bottom = view.px(0, p.hh + 3 * p.dy)[1], view.px(0, -p.hh)[1] - 3
        in_grid = lambda data: len([q for q in mask(data, BLACK) if top <= q[1] <= bottom])
        counts = [in_grid(page)]
        for key in "ne":
            d.find_element(By.TAG_NAME, "body").send_keys(key)
            counts.append(in_grid(canvas(d, work)))
        if not counts[0] > counts[1] > counts[2] == 0 or d.execute_script("return meshplay.step") != k:
            raise Failure("black pixels in the grid with everything, without points, without "
                          "outlines: %r (and the step shown %d)" % (counts, k))

        # A cut of the run and every second step of it, the last included.
        open_page(d, os.path.join(work, "cut.html"))
        want = times[1:7:2] + ([times[6]] if (6 - 1) % 2 else [])
        got = d.execute_script("return Array.from({length: meshplay.steps}, "
                               "(_, k) => (meshplay.seek(k), meshplay.time))")
        if got != want:
            raise Failure("cut.html's times %r, expected %r" % (got, want))

        # Played in model time: records every 10 ms over most of the run.
        fine = [k / 100 for k in range(int(p.t_end * 90))]
        work = ctx.folder(dict(ctx.model_files(), **{RES: results(p, [(t, {}) for t in fine])}))
        ctx.companion("html", work, "fine.html").finish(timeout=120)
        open_page(d, os.path.join(work, "fine.html"))
        started = d.execute_script("meshplay.play(); return [meshplay.playing, meshplay.time]")
        time.sleep(1.0)
        played = d.execute_script("meshplay.pause(); return [meshplay.playing, meshplay.time]")
        if started != [True, 0] or played[0] or not 0.6 <= played[1] <= 1.4:
            raise Failure("play(), a second, pause(): %r then %r" % (started, played))

        # Nothing but the pages themselves was asked for (the browser's own start page aside).
        messages = [json.loads(e["message"])["message"] for e in d.get_log("performance")]
        asked = [m["params"]["request"]["url"] for m in messages
                 if m["method"] == "Network.requestWillBeSent"
                 and m["params"].get("documentURL", "").startswith("file://")]
        outside = [url for url in asked if not url.startswith(("file://", "data:", "blob:"))]
        if outside or len(asked) < 3:
            raise Failure("requests beyond the pages: %r" % outside[:2])
    finally:
        d.quit()


harness.main(run)
