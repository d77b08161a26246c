"""The companions as a hostile user runs them: stop signals while they are blocked or busy, a
file-size limit, outputs that cannot be written, names that tripped them up, missing programs and
files. A failure is one line on stderr and status 1, within a second of a signal, with nothing left
in the folder and no child process left running; outputs refused before the run are refused while
result.dat is a pipe whose writer pauses, which a run would wait on for ever."""

import os
import signal
import stat
import subprocess
import time

import harness
from harness import GEO, RES, Failure, results

# A program that starts, says so, and never ends: an ffmpeg that reads nothing, an Xvfb that never
# reports its display. And an ffmpeg that fails.
STUCK = "#!/bin/sh\necho $$ >> %s\nexec sleep 600\n"
FAILING = "#!/bin/sh\necho 'Unknown encoder: nothing here' >&2\nexit 1\n"


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(") ")[1][0] != "Z"
    except FileNotFoundError:
        return False


def run(ctx):
    p = ctx.profile
    fakes, failing = ctx.folder(), ctx.folder({"ffmpeg": FAILING})
    pids = os.path.join(fakes, "pids")
    for path, text in ((fakes + "/ffmpeg", STUCK % pids), (fakes + "/Xvfb", STUCK % pids)):
        with open(path, "w") as f:
            f.write(text)
    for path in (fakes + "/ffmpeg", fakes + "/Xvfb", failing + "/ffmpeg"):
        os.chmod(path, stat.S_IRWXU)
    stuck = dict(ctx.env, PATH=fakes + ":" + os.environ["PATH"])
    headless, bare = dict(stuck, DISPLAY=""), dict(ctx.env, PATH="/nonexistent")

    def started():  # a stuck child has said it runs
        return os.path.exists(pids) and os.path.getsize(pids) > 0

    def framed(work):  # the first frame is in the temporary folder
        return any(name.startswith(".meshplay-") and os.listdir(os.path.join(work, name))
                   for name in os.listdir(work))

    short = [(0.0, {}), (0.5, {}), (1.0, {})]
    rows = [  # why, tool, arguments, files, records (None: a paused pipe), environment,
        # file-size limit, (signal, when to send it), expected status, stderr (a piece of its line)
        ("blocked reading a pipe", "export", ["run.pvd"], {}, None, None, None,
         (signal.SIGINT, lambda w: time.sleep(1) or True), 1, "interrupted"),
        ("blocked writing to an ffmpeg that reads nothing", "record", ["run.mp4"], {}, short,
         stuck, None, (signal.SIGTERM, lambda w: started()), 1, "interrupted"),
        ("inside a hold of 50000 frames", "record", ["frames/", "--fps", "100"], {},
         [(0.0, {}), (500.0, {})], None, None, (signal.SIGHUP, framed), 1, "interrupted"),
        ("starting an Xvfb that never reports", "record", ["frames/"], {}, short, headless, None,
         (signal.SIGINT, lambda w: started()), 1, "interrupted"),
        ("a file-size limit", "export", ["x.msh"], {}, short, None, 4096, None, 1, "x.msh: File too"),
        ("a file-size limit on PNG frames", "record", ["frames/", "--scale", "10"], {}, short,
         None, 100000, None, 1, "frames/frame-000000.png: File too large"),
        ("a folder holding files", "record", ["old/"], {"old": os.mkdir, "old/a.png": ""}, None,
         None, None, None, 1, "old/: holds files already"),
        ("a folder where a file belongs", "export", ["run.msh"], {"run.msh": os.mkdir}, None,
         None, None, None, 1, "run.msh: is a folder"),
        ("a file where a folder belongs", "record", ["file/"], {"file": ""}, None, None, None,
         None, 1, "file/: not a folder"),
        ("a colon, which ffmpeg takes for a protocol", "record", ["12:30.gif", "--every", "2"],
         {}, short, None, None, None, 0, ""),
        ("an empty geodata.dat", "export", ["run.msh"], {GEO: ""}, short, None, None, None, 0,
         "warning: geodata.dat: not one complete node record"),
        ("a missing geodata.dat", "export", ["run.msh"], {GEO: None}, short, None, None, None, 1,
         "geodata.dat: No such file or directory"),
        ("no record", "export", ["x.msh"], {}, [], None, None, None, 1,
         "result.dat: no time step to read"),
        ("a pipe no program writes to", "html", ["x.html"], {}, "no writer", None, None, None, 1,
         "result.dat: no time step came through the named pipe (no program"),
        ("a cut holding no record", "export", ["x.msh", "--from", "100"], {}, short, None, None,
         None, 1, "no time step of the run lies within --from 100: its steps go from 0 s to 1 s"),
        ("a cut the wrong way round", "record", ["x.mp4", "--from", "3", "--to", "2"], {}, None,
         None, None, None, 1, "--from 3 lies after --to 2"),
        ("a folder for .vtu files holding files", "export", ["run.pvd"],
         {"run": os.mkdir, "run/old.vtu": ""}, None, None, None, None, 1, "run: exists already"),
        ("a file-size limit on .vtu files", "export", ["x.pvd"], {}, short, None, 2000, None, 1,
         "x/x_000000.vtu: File too large"),
        ("an unknown format", "export", ["x.vtk"], {}, None, None, None, None, 1, "x.vtk: unknown"),
        ("an unknown kind of video", "record", ["x.avi"], {}, None, None, None, None, 1,
         "x.avi: unknown kind of output"),
        ("a page not named .html", "html", ["x.txt"], {}, None, None, None, None, 1, "x.txt: unknown"),
        ("a page into no folder", "html", ["no/x.html"], {}, None, None, None, None, 1,
         "no/x.html: No such file or directory"),
        ("--speed with --every", "record", ["x.mp4", "--every", "2", "--speed", "2"], {}, None,
         None, None, None, 1, "--speed and --every exclude each other"),
        ("no ffmpeg", "record", ["x.mp4"], {}, None, bare, None, None, 1, "Debian's ffmpeg"),
        ("a failing ffmpeg", "record", ["x.mp4"], {}, short, dict(ctx.env, PATH=failing), None,
         None, 1, "(exit status 1): Unknown encoder: nothing here"),
        ("no display and no Xvfb", "record", ["x/"], {}, short, dict(bare, DISPLAY=""), None,
         None, 1, "Debian's xvfb package"),
    ]
    # On a terminal, the progress line ends showing the whole run, however fast it went.
    terminal, other_end = os.openpty()
    work = ctx.folder(dict(ctx.model_files(), **{RES: results(p, [(k / 1000, {}) for k in range(301)])}))
    subprocess.run([ctx.tools["export"], "x.msh"], cwd=work, stderr=other_end, check=True)
    os.close(other_end)
    last = os.read(terminal, 1 << 16).decode().replace("\r\n", "\n").split("\r")[-1]
    if "301 records read, 301 steps" not in last:
        raise Failure("the last progress line on a terminal is %r" % last)
    for why, tool, args, files, records, env, limit, stop, status, message in rows:
        work = ctx.folder({k: v for k, v in dict(ctx.model_files(), **files).items()
                           if v is not None})
        writer = None
        if records in (None, "no writer"):  # a pipe, held open by a writer that has not written
            os.mkfifo(os.path.join(work, RES))
            if records is None:
                writer = os.open(os.path.join(work, RES), os.O_RDWR)
        else:
            with open(os.path.join(work, RES), "w") as f:
                f.write(results(p, records))
        before = set(os.listdir(work))
        if os.path.exists(pids):
            os.remove(pids)
        c = ctx.companion(tool, work, *args, env=env, limit=limit)
        took = 0.0
        if stop:
            harness.poll(lambda: stop[1](work) or c.proc.poll() is not None, timeout=30,
                         what="%s: the moment to stop it" % why)
            sent = time.monotonic()
            c.proc.send_signal(stop[0])
            c.proc.wait(timeout=30)
            took = time.monotonic() - sent
        got, _, err = c.finish()
        if writer is not None:
            os.close(writer)
        name = os.path.basename(ctx.tools[tool])
        left = set(os.listdir(work)) - before
        children = [int(pid) for pid in open(pids).read().split()] if started() else []
        lines = err.count("\n") == (1 if message else 0)
        if (got != status or message not in err or not lines or not err.startswith(name if message
                                                                                  else "")
                or took > 1.0 or len(left) != (0 if status else 1)
                or any(alive(pid) for pid in children)):
            raise Failure("%s (%s %s): status %d, stderr %r (expected one line with %r), %.2f s "
                          "after the signal, made %s, children %s" % (
                              why, tool, " ".join(args), got, err, message, took, sorted(left),
                              [pid for pid in children if alive(pid)]))


harness.main(run)
