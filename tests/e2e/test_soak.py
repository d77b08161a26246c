"""Input soak: thousands of random real input events (every mouse button, the wheel, keys with and
without modifiers, resizes down to one pixel), with the result file replaced by valid and junk
files and removed between the batches. The program must keep running without a sanitizer report,
draw its picture again once the window has its size back, answer a middle click with a frame and
quit with status 0 on q.

The events come from a seeded generator; the seed is printed, and MESHPLAY_SOAK_SEED=N replays
a run, MESHPLAY_SOAK_EVENTS=N changes how many events are sent."""

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


class Generator:
    """Random xdotool commands. It knows the window's size, so that the pointer, and with it the
    keyboard focus, lands inside the window, and which buttons it holds down."""

    def __init__(self, rng, wid):
        self.rng, self.wid = rng, wid
        self.width, self.height = 300, 300
        self.held = set()
        self.downs = 0  # presses of the down arrow: how far the scale may have grown

    def point(self):
        return ["mousemove", "--window", self.wid, str(self.rng.randrange(self.width)),
                str(self.rng.randrange(self.height))]

    def event(self):
        r, rng = self.rng.random(), self.rng
        if r < 0.45:
            key = rng.choice(KEYS)
            self.downs += key in ("Down", "ctrl+Down")
            return self.point() + ["key", "--delay", "0", key]
        if r < 0.8:  # mousedown and mouseup rather than click, which sleeps between them
            button = str(rng.choice([1, 1, 2, 2, 2, 3, 3, 4, 5, 6, 7, 8, 9]))
            if button in self.held or rng.random() < 0.8:
                self.held.discard(button)
                return self.point() + ["mousedown", button, "mouseup", button]
            self.held.add(button)
            return self.point() + ["mousedown", button]
        if r < 0.9:
            self.width, self.height = rng.choice([(1, 1), (1, 1), (300, 300), (2, 700)]) \
                if rng.random() < 0.5 else (rng.randint(1, 1000), rng.randint(1, 700))
            return ["windowsize", self.wid, str(self.width), str(self.height)]
        if r < 0.95 and self.held:
            return self.point() + ["mouseup", self.held.pop()]
        return self.point()


def replace_result(rng, directory, p):
    """Puts another valid or junk result file in place, or none; the program reads on from what
    it has open until its run ends and then reopens whatever is there."""
    path = os.path.join(directory, harness.RES)
    choice = rng.randrange(6)
    if choice == 0:
        if os.path.exists(path):
            os.remove(path)
        return "removed"
    if choice == 1:  # cut short in place, under the program's open descriptor
        if os.path.exists(path):
            os.truncate(path, rng.randrange(os.path.getsize(path) + 1))
        return "truncated"
    if choice == 2:
        content = bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 20000)))
    else:
        count = rng.randrange(1, 40)
        last = rng.choice([p.t_end + 0.25, -2.0, float("nan"), 1.0])
        content = harness.results(p, [(i * p.t_end / count, {rng.randrange(p.node_count): (
            rng.uniform(-p.dx, p.dx), rng.uniform(-p.dy, p.dy))}) for i in range(count)]
            + [(last, {})]).encode()
    # Rewritten in place, or replaced by a new file.
    with open(path if choice == 3 else path + ".new", "wb") as f:
        f.write(content)
    if choice == 3:
        return "rewritten"
    os.replace(path + ".new", path)
    return "replaced"


def run(ctx):
    p = ctx.profile
    print("soak seed %d, %d events (MESHPLAY_SOAK_SEED, MESHPLAY_SOAK_EVENTS)" % (SEED, EVENTS))
    rng = random.Random("%d-%s" % (SEED, ctx.name))
    v = ctx.start(ctx.files([(i * p.t_end / 50, {}) for i in range(60)]))
    gen = Generator(rng, v.window())
    sent = 0
    while sent < EVENTS:
        count = min(BATCH, EVENTS - sent)
        what = replace_result(rng, v.dir, p)
        try:
            v.xdo(*[c for _ in range(count) for c in gen.event()])
        except Failure as e:
            raise Failure("after %d events (%s): %s" % (sent, what, e))
        sent += count
        # Let the program catch up, so that the next file change falls among its frames rather
        # than after all of them: runs end within a few dozen frames, so its console falls silent.
        v.settle(0.1)
        if v.proc.poll() is not None or any(m in v.errors for m in harness.SANITIZER_MARKS):
            raise Failure("the program ended after %d events, status %s (result file %s): %s"
                          % (sent, v.proc.returncode, what, v.errors[-2000:]))
    # Release every held button, shrink the window (so that restoring its size is a change that
    # can be waited for) and stop playback with a right click.
    v.xdo(*[c for b in sorted(gen.held) for c in ("mouseup", b)], "windowsize", gen.wid, "1", "1",
          "mousemove", "--window", gen.wid, "0", "0", "mousedown", "3", "mouseup", "3")
    print("sent %d events, %d frames drawn" % (sent, len(harness.times(v.output))))

    # The window gets its size back; enough up-arrow presses take the scale to its floor, one step,
    # whatever it was, and eleven down-arrow presses from there give the initial scale again.
    v.resize(300, 300)
    v.act("key", "--delay", "0", *["Up"] * (gen.downs + 20) + ["Down"] * 11)
    v.settle()
    v.click(2)
    v.wait_for("[s]\r")
    shot = v.expect_picture(frame_probes(View(p)), "after-soak")
    if (shot.width, shot.height) != (300, 300):
        raise Failure("window is %d x %d after the soak" % (shot.width, shot.height))
    v.quit("q")


harness.main(run)
