"""Input soak: thousands of random real input events (buttons, wheel, keys, resizes down to one
pixel) while the result file is replaced, cut short or removed. The program must run on without a
sanitizer report, then draw, step and quit as usual. MESHPLAY_SOAK_SEED=N (printed) replays a run;
MESHPLAY_SOAK_EVENTS=N sets how many events are sent."""

import os
import random

import harness
from harness import Failure, View, frame_probes

SEED = int(os.environ.get("MESHPLAY_SOAK_SEED", "1729"))
EVENTS = int(os.environ.get("MESHPLAY_SOAK_EVENTS", "8000"))
BATCH = 200  # events per xdotool call: one call costs far more than the events it sends

# Never q, Escape or anything that reaches the program as either: Alt and Super pass the letter
# on unchanged, Control turns [ and 3 into Escape. Caps Lock would turn later upper-case letters
# into lower-case ones.
LETTERS = list("abcdefghijklmnoprstuvwxyz")
KEYS = (LETTERS * 3 + list("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") + ["Up", "Down"] * 8
        + ("Left Right Home End Page_Up Page_Down Insert Delete BackSpace Tab Return space comma "
           "period minus slash bracketright F1 F5 F12 shift+Up ctrl+Down").split()
        + ["ctrl+" + c for c in LETTERS] + ["alt+" + c for c in "nesr"])


def events(rng, wid, count, held):
    """xdotool commands of `count` random events; `held` is the set of buttons held down."""
    size, commands = (300, 300), []
    for _ in range(count):
        r = rng.random()
        if r < 0.1:
            size = rng.choice([(1, 1), (300, 300), (2, 700), (rng.randint(1, 999), 300)])
            commands += ["windowsize", wid, str(size[0]), str(size[1])]
            continue
        # Inside the window: without a window manager the keyboard focus follows the pointer.
        commands += ["mousemove", "--window", wid] + [str(rng.randrange(n)) for n in size]
        button = str(rng.choice([1, 1, 2, 2, 2, 3, 3, 4, 5, 6, 7, 8, 9]))
        if r < 0.55:
            commands += ["key", "--delay", "0", rng.choice(KEYS)]
        elif button in held or rng.random() < 0.8:  # mousedown and mouseup: click sleeps
            held.discard(button)
            commands += ["mousedown", button, "mouseup", button]
        else:
            held.add(button)
            commands += ["mousedown", button]
    return commands


def replace_result(rng, path, p):
    """Another valid or junk result file, cut short under the open descriptor, or none: the program
    reads on from what it has open until its run ends, then reopens whatever is there."""
    choice = rng.randrange(5)
    if choice == 0:
        if os.path.exists(path):
            os.remove(path)
    elif choice == 1:
        if os.path.exists(path):
            os.truncate(path, rng.randrange(os.path.getsize(path) + 1))
    else:
        count = rng.randrange(1, 40)
        last = rng.choice([p.t_end + 0.25, -2.0, float("nan"), 1.0])
        content = rng.randbytes(rng.randrange(1, 20000)) if choice == 2 else harness.results(
            p, [(i * p.t_end / count, {rng.randrange(p.node_count): (
                rng.uniform(-p.dx, p.dx), rng.uniform(-p.dy, p.dy))}) for i in range(count)]
            + [(last, {})]).encode()
        with open(path + ".new", "wb") as f:
            f.write(content)
        os.replace(path + ".new", path)


def run(ctx):
    p = ctx.profile
    print("soak seed %d, %d events (MESHPLAY_SOAK_SEED, MESHPLAY_SOAK_EVENTS)" % (SEED, EVENTS))
    rng = random.Random("%d-%s" % (SEED, ctx.name))
    v = ctx.start(ctx.files([(i * p.t_end / 50, {}) for i in range(60)]))
    wid, held = v.window(), set()
    for sent in range(0, EVENTS, BATCH):
        replace_result(rng, os.path.join(v.dir, harness.RES), p)
        v.xdo(*events(rng, wid, min(BATCH, EVENTS - sent), held))
        # Let the program catch up, so that the next file change falls among its frames.
        v.settle(0.1)
        if v.proc.poll() is not None or any(m in v.errors for m in harness.SANITIZER_MARKS):
            raise Failure("the program ended after %d events, status %s: %s"
                          % (sent, v.proc.returncode, v.errors[-2000:]))
    # Release the buttons, stop playback with a right click, give the window its size back; the
    # up arrow takes the scale to its floor, one step, and eleven down-arrow presses back to 0.03.
    v.xdo(*[c for b in sorted(held) for c in ("mouseup", b)], "windowsize", wid, "1", "1",
          "mousemove", "--window", wid, "0", "0", "mousedown", "3", "mouseup", "3")
    v.resize(300, 300)
    v.act("key", "--delay", "0", *["Up"] * (EVENTS // 10) + ["Down"] * 11)
    v.settle()
    v.click(2)
    v.wait_for("[s]\r")
    shot = v.expect_picture(frame_probes(View(p)), "after-soak")
    if (shot.width, shot.height) != (300, 300):
        raise Failure("window is %d x %d after the soak" % (shot.width, shot.height))
    v.quit("q")


harness.main(run)
