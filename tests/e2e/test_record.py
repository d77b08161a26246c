"""The recorder: frame counts read back from its videos with ffprobe against counts worked out from
the records written (model time, --every, --from/--to, and the end of the run where the viewer ends
it); one frame of a PNG recording equal, pixel for pixel, to the real viewer's window at the same
record; --help on stdout. Its failures are among the companions' cases."""

import os
import random
import subprocess

import harness
from harness import RES, Failure, progress, results


def folder(ctx, records):  # the folder, and the files in it
    files = dict(ctx.model_files(), **{RES: results(ctx.profile, records)})
    return ctx.folder(files), files


def run(ctx, cwd, *args, env=None):
    status, _, err = ctx.companion("record", cwd, *args, env=env).finish(timeout=120)
    return status, err


def frames(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                         capture_output=True, text=True, check=True).stdout
    return int(out)


def model_time(times, fps, speed):
    """Frame k shows the last record at or before t0 + k * speed / fps; the last frame is the first
    that shows the last record."""
    k = 0
    while times[0] + k * speed / fps < times[-1]:
        k += 1
    return k + 1


def counts(ctx):
    p = ctx.profile
    u = p.t_end / 15  # times as in a run of 15 s
    end = p.t_end + 0.5  # ends the run: the records after it are not recorded
    times = [0.0, 0.05 * u, 0.05 * u, 0.4 * u, 1.3 * u, 1.31 * u, 2 * u, 2 * u, end, end + 0.25, 0.5]
    work, _ = folder(ctx, [(t, {}) for t in times])
    played = times[:times.index(end) + 1]
    no_display = {k: v for k, v in ctx.env.items() if k != "DISPLAY"}
    cases = [  # output, options, expected frames, environment
        ("a.mp4", ["--fps=10", "--speed", "0.5"], model_time(played, 10, 0.5), None),
        ("b.webm", ["--every", "3"], len(played[::3]) + ((len(played) - 1) % 3 != 0), None),
        ("c.gif", ["--from", repr(0.3 * u), "--to", repr(1.5 * u), "--fps", "20"],
         model_time([0.4 * u, 1.3 * u, 1.31 * u], 20, 1.0), no_display),
        ("d.mp4", [], model_time(played, 30, 1.0), None),
    ]
    for output, options, expected, env in cases:
        status, err = run(ctx, work, output, *options, env=env)
        if status != 0:
            raise Failure("%s %s: exit status %d: %s" % (output, options, status, err))
        if env is no_display and "Xvfb" not in err:
            raise Failure("without a display, stderr does not mention Xvfb: %r" % err)
        got = frames(os.path.join(work, output))
        if got != expected:
            raise Failure("%s %s: %d frames, expected %d" % (output, options, got, expected))


def same_as_viewer(ctx):
    p, rng = ctx.profile, random.Random(7)
    moves = lambda: {i: (rng.uniform(-2, 2) * p.dx, rng.uniform(-2, 2) * p.dy)
                     for i in range(p.node_count)}
    times, k = [p.t_end / 60, p.t_end / 4, p.t_end / 2 + p.t_end / 120], 2
    work, files = folder(ctx, [(t, moves()) for t in times])
    pixels = {}  # recorded before the viewer starts: the recorder's window would expose its own
    for scale in (1, 2):
        out = "x%d/" % scale
        status, err = run(ctx, work, out, "--every", "1", "--scale", str(scale))
        png, size = os.path.join(work, out, "frame-%06d.png" % k), 300 * scale
        pixels[scale] = subprocess.run(["convert", png, "rgb:-"], capture_output=True).stdout
        if status != 0 or len(pixels[scale]) != size * size * 3:
            raise Failure("%s: %s, %d bytes of pixels" % (out, err, len(pixels[scale])))
    v = ctx.start(files)
    v.wait_for(progress(times[0]))
    for t in times[1:k + 1]:  # middle clicks step the viewer to record k
        v.click(2)
        v.wait_for(progress(t))
    for scale, rgb in pixels.items():
        size = 300 * scale
        bad = []

        def equal():  # the window may show the frame a moment after its console line
            shot = v.shot()
            bad[:] = [(x, y) for y in range(size) for x in range(size) if shot.pixel(
                x // scale, y // scale) != tuple(rgb[3 * (y * size + x):3 * (y * size + x) + 3])]
            return not bad
        try:
            harness.poll(equal)
        except Failure:
            raise Failure("frame %d at scale %d differs from the viewer's window at %d pixels, "
                          "first %s" % (k, scale, len(bad), bad[:3]))
    v.quit("q")


def main(ctx):
    counts(ctx)
    same_as_viewer(ctx)
    status, out, _ = ctx.companion("record", ctx.folder(), "--help").finish()
    if status != 0 or not out.startswith("usage: "):
        raise Failure("--help: exit status %d, stdout %r" % (status, out))


harness.main(main)
