"""The recorder: frame counts read back from its videos with ffprobe against counts worked out from
the records written (model time, --every, --from/--to, and the end of the run where the viewer ends
it); one frame of a PNG recording equal, pixel for pixel, to the real viewer's window at the same
record; and its failures, each with its message, exit status 1 and no output left behind."""

import os
import random
import shutil
import stat
import subprocess
import tempfile

import harness
from harness import GEO, RES, Failure, progress, results


def folder(ctx, records, changes=None):
    """A fresh folder holding the grid's files and the records; `changes` replaces files (None
    leaves one out). Returns the folder and its files."""
    files = dict(ctx.model_files(), **{RES: results(ctx.profile, records)})
    files.update(changes or {})
    files = {name: text for name, text in files.items() if text is not None}
    path = tempfile.mkdtemp(prefix="meshplay-e2e-record-")
    for name, text in files.items():
        with open(os.path.join(path, name), "w") as f:
            f.write(text)
    return path, files


def run(ctx, cwd, *args, env=None):
    env = dict(env or ctx.env, ASAN_OPTIONS="detect_leaks=0")  # Mesa's and Xlib's, not ours
    r = subprocess.run([ctx.tools["record"], *args], cwd=cwd, env=env, capture_output=True,
                       text=True, timeout=120)
    if "runtime error" in r.stderr or "AddressSanitizer" in r.stderr:
        raise Failure("sanitizer report: " + r.stderr)
    return r


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
    end = p.t_end + 0.5  # ends the run: the records after it are not recorded
    times = [0.0, 0.05, 0.05, 0.4, 1.3, 1.31, 2.0, 2.0, end, end + 0.25, 0.5]
    work, _ = folder(ctx, [(t, {}) for t in times])
    played = times[:times.index(end) + 1]
    no_display = {k: v for k, v in ctx.env.items() if k != "DISPLAY"}
    cases = [  # output, options, expected frames, environment
        ("a.mp4", ["--fps=10", "--speed", "0.5"], model_time(played, 10, 0.5), None),
        ("b.webm", ["--every", "3"], len(played[::3]) + ((len(played) - 1) % 3 != 0), None),
        ("c.gif", ["--from", "0.3", "--to", "1.5", "--fps", "20"],
         model_time([0.4, 1.3, 1.31], 20, 1.0), no_display),
        ("d.mp4", [], model_time(played, 30, 1.0), None),
    ]
    for output, options, expected, env in cases:
        r = run(ctx, work, output, *options, env=env)
        if r.returncode != 0:
            raise Failure("%s %s: exit status %d: %s" % (output, options, r.returncode, r.stderr))
        if env is no_display and "Xvfb" not in r.stderr:
            raise Failure("without a display, stderr does not mention Xvfb: %r" % r.stderr)
        got = frames(os.path.join(work, output))
        if got != expected:
            raise Failure("%s %s: %d frames, expected %d" % (output, options, got, expected))
    shutil.rmtree(work)


def same_as_viewer(ctx):
    p, rng = ctx.profile, random.Random(7)
    moves = lambda: {i: (rng.uniform(-2, 2) * p.dx, rng.uniform(-2, 2) * p.dy)
                     for i in range(p.node_count)}
    times, k = [0.25, 3.75, p.t_end / 2 + 0.125], 2
    work, files = folder(ctx, [(t, moves()) for t in times])
    pixels = {}  # recorded before the viewer starts: the recorder's window would expose its own
    for scale in (1, 2):
        out = "x%d/" % scale
        r = run(ctx, work, out, "--every", "1", "--scale", str(scale))
        png, size = os.path.join(work, out, "frame-%06d.png" % k), 300 * scale
        pixels[scale] = subprocess.run(["convert", png, "rgb:-"], capture_output=True).stdout
        if r.returncode != 0 or len(pixels[scale]) != size * size * 3:
            raise Failure("%s: %s, %d bytes of pixels" % (out, r.stderr, len(pixels[scale])))
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
    shutil.rmtree(work)


FAKE_FFMPEG = "#!/bin/sh\necho 'Unknown encoder: nothing here' >&2\nexit 1\n"


def failures(ctx):
    p = ctx.profile
    tools = tempfile.mkdtemp(prefix="meshplay-e2e-tools-")
    os.mkdir(os.path.join(tools, "fake"))
    with open(os.path.join(tools, "fake", "ffmpeg"), "w") as f:
        f.write(FAKE_FFMPEG)
    os.chmod(os.path.join(tools, "fake", "ffmpeg"), stat.S_IRWXU)
    r = run(ctx, tools, "--help")
    if r.returncode != 0 or not r.stdout.startswith("usage: "):
        raise Failure("--help: exit status %d, stdout %r" % (r.returncode, r.stdout))
    empty = dict(ctx.env, PATH=tools)
    headless = {k: v for k, v in empty.items() if k != "DISPLAY"}
    cases = [  # files, arguments, environment, what the message must say
        ({GEO: None}, ["out.mp4"], None, "geodata.dat"),
        ({}, ["out.avi"], None, "out.avi"),
        ({}, ["nowhere/out.mp4"], None, "nowhere/out.mp4"),
        ({}, ["out/", "--fps", "0"], None, "'0' for --fps"),
        ({}, ["out.gif", "--scale", "11"], None, "'11' for --scale"),
        ({}, ["out.mp4", "--every", "2", "--speed", "2"], None, "--every"),
        ({}, ["out.mp4"], empty, "Debian's ffmpeg package"),
        ({}, ["out.mp4"], dict(ctx.env, PATH=os.path.join(tools, "fake")),
         "Unknown encoder: nothing here"),
        ({}, ["out/"], headless, "Debian's xvfb package"),
        ({RES: results(p, [(0.0, {}), (1e300, {})])}, ["out.mp4"], None, "1e+300"),
        ({}, ["out/", "--from", "5", "--to", "6"], None, "no time step"),
    ]
    for changes, args, env, message in cases:
        work, files = folder(ctx, [(0.0, {}), (1.0, {})], changes)
        r = run(ctx, work, *args, env=env)
        left = sorted(set(os.listdir(work)) - set(files))
        if r.returncode != 1 or message not in r.stderr or r.stderr.count("\n") != 1 or left:
            raise Failure("%s: exit status %d, stderr %r (expected one line naming %r), left %s"
                          % (args, r.returncode, r.stderr, message, left))
        shutil.rmtree(work)
    shutil.rmtree(tools)


def main(ctx):
    counts(ctx)
    same_as_viewer(ctx)
    failures(ctx)


harness.main(main)
