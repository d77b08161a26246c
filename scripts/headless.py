"""Plays one run of a meshplay program under a private Xvfb and saves screenshots along the way.

    python3 scripts/headless.py PROGRAM DATA_DIR OUT_DIR [TIME ...]

The program is started in a fresh folder holding links to the three input files of DATA_DIR and
driven as a user would drive it, with real input: Enter on its console, a left click to play, a
right click to stop just before each TIME (seconds, before the run's end; default 1.84 and 2.21,
where the demo block leans furthest right and left, or where those lie past 90 % of the run, 30 %
and 60 % of it), middle clicks to step frame by frame onto it exactly, a left click
to play on, and `q` once the console says "PRESS MOUSE BUTTON ON DISPLAY". The window is saved with ImageMagick's `import` as
OUT_DIR/<program>-t<time>.png at the start, at each TIME and at the end; each path is printed.
Exits non-zero if the program does not behave as described.

Xvfb, the program's console and its window are handled by xsession.py beside this script.
"""

import json
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xsession  # noqa: E402

FILES = ("geodata.dat", "tridata.dat", "result.dat")
DEFAULT_TIMES = (1.84, 2.21)
# Playback under Xvfb runs at hundreds to thousands of frames a second, far faster than the
# console can be watched: stop this much model time early, then step onto the target.
LEAD = 0.3
RUN_TIMEOUT = 300  # seconds for a whole run; profile B's 44 MB of results play in a few


def last_time(viewer):
    """The time of the last progress line on the console, and how many there have been."""
    out = viewer.output
    count = out.count("Progress:  Virtual:")
    if not count:
        return None, 0
    start = out.rindex("Progress:  Virtual:") + len("Progress:  Virtual:")
    return float(out[start:out.index("[s]", start)]), count


def wait_until(condition, timeout, what):
    """Polls much faster than xsession.poll does: playback outruns a 20 ms poll by dozens of frames."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise xsession.Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.002)


class Player:
    def __init__(self, ctx, viewer, out_dir):
        self.ctx, self.v, self.out_dir = ctx, viewer, out_dir
        self.name = ctx.name
        self.rewinds = 0
        self.saved = []

    def shoot(self, label):
        """Saves the window once the frame just printed has been drawn and shown."""
        self.v.settle(0.3)
        path = os.path.join(self.out_dir, "%s-%s.png" % (self.name, label))
        self.ctx.x("import", "-window", self.v.window(), path)
        t, _ = last_time(self.v)
        print("saved %s (t = %.2f s)" % (path, t), flush=True)
        self.saved.append(path)

    def click(self, button):
        """A click with no pause between press and release: xdotool's default pause makes each
        click take a tenth of a second, in which playback runs on by a few hundred frames."""
        self.v.act("click", "--delay", "0", str(button))

    def ended(self):
        """The run has reached its end (a rewind also prints the end message, once)."""
        return self.v.output.count(xsession.END_OF_RUN) > self.rewinds

    def stop_at(self, target):
        """From playback, stops on the frame of time `target`; False if the run ended first.
        A right click stops playback whatever the state; if it came too late, `r` and a middle
        click rewind, a left click plays again, and the next try stops earlier."""
        lead = LEAD
        while True:
            wait_until(lambda: self.ended() or (last_time(self.v)[0] or 0.0) >= target - lead,
                       RUN_TIMEOUT, "t = %.2f s on the console" % (target - lead))
            if self.ended():
                return False
            self.click(3)
            self.v.settle(0.3)
            if self.ended():
                return False
            t, count = last_time(self.v)
            if t <= target + 0.005:
                break
            lead *= 2
            self.rewinds += 1
            self.v.key("r")
            self.click(2)
            self.v.wait_for(xsession.progress(0.0))
            self.click(1)
        while t < target - 0.005:
            self.click(2)  # one frame while stopped
            wait_until(lambda: last_time(self.v)[1] > count, xsession.TIMEOUT,
                       "a frame after a middle click")
            t, count = last_time(self.v)
            if self.ended():  # the step reached the end: the next one would start again
                return False
        return True


def play(ctx, data_dir, out_dir, times):
    # Links to the input files; start waits for the prompt, sends Enter and finds the window.
    viewer = ctx.start({name: lambda path, name=name: os.symlink(os.path.join(data_dir, name), path)
                        for name in FILES})
    player = Player(ctx, viewer, out_dir)
    viewer.wait_for(xsession.progress(0.0))
    player.shoot("t0.00")
    player.click(1)  # play
    for target in sorted(times):
        if not player.stop_at(target):
            print("note: the run ended before t = %.2f s" % target, flush=True)
            break
        player.shoot("t%.2f" % target)
        player.click(1)  # play on
    wait_until(player.ended, RUN_TIMEOUT, "the end of the run")
    player.shoot("end")
    viewer.quit("q")
    return player.saved


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    program, data_dir, out_dir = (os.path.abspath(a) for a in sys.argv[1:4])
    # The build describes each program beside it; its end time bounds the moments.
    with open(program + ".json") as f:
        t_end = json.load(f)["T_END"]
    times = [float(a) for a in sys.argv[4:]] or [t for t in DEFAULT_TIMES if t < 0.9 * t_end] or [
        round(f * t_end, 2) for f in (0.3, 0.6)]
    beyond = [t for t in times if t >= t_end]
    if beyond:
        sys.exit("headless: t = %g s lies beyond the end of the run, %d s" % (beyond[0], t_end))
    missing = [n for n in FILES if not os.path.isfile(os.path.join(data_dir, n))]
    if missing:
        sys.exit("headless: %s missing in %s" % (", ".join(missing), data_dir))
    os.makedirs(out_dir, exist_ok=True)
    started = time.monotonic()
    ctx = xsession.Session(program, out_dir)
    problems = []
    try:
        play(ctx, data_dir, out_dir, times)
    except xsession.Failure as e:
        problems.append(str(e))
    finally:
        problems += ctx.close()
    if problems:
        for v in ctx.viewers:
            problems.append("console of the program ends with %r" % v.output[-300:])
        sys.exit("headless: FAILED: " + "\n  ".join(problems))
    print("headless: %s played to the end in %.1f s" % (os.path.basename(program),
                                                        time.monotonic() - started))


if __name__ == "__main__":
    main()
