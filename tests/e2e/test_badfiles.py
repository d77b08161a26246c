"""Hostile and huge input files. Each input gets a run of its own: the program starts, draws its
frame, plays to its end of run on a left click, answers a middle click with a new frame and quits
with status 0 on q, without a sanitizer report. Where the reading of an input is fully determined,
the whole console of that run is checked as well. Malformed numbers, truncated records, values
that are not finite and element indices outside the node table are the fuzz targets' part (their
seeds hold each); numbers and lines longer than the reader's buffer the scanner's unit tests'.

A result file of several hundred megabytes plays through with a peak resident memory within a few
megabytes of what the same records take from a small file: the reader streams the file through its
fixed buffer, however long its lines and numbers."""

import os

import harness
from harness import (CANNOT_OPEN, END_OF_RUN, GEO, PROMPT, RES, TRI, Failure, View, frame_probes,
                     progress, record)

MILLION = 10 ** 6
BIG_RECORDS, BIG_MEGABYTES, SLACK_KB = 500, 300, 4096


def transcript(*items):
    """Console text of frames: a number is a frame's time, a string is printed as it is."""
    return "".join(progress(i) if isinstance(i, float) else i for i in items)


def unopenable(path):
    # A symbolic link to itself fails to open (ELOOP), for root too, whom no file mode stops.
    os.symlink(os.path.basename(path), path)


def big_time(p, j):  # record j of the big files: short decimals, within the run
    return j / 80 if p.t_end > 7 else round(j * 0.9 * p.t_end / BIG_RECORDS, 4)


def write_big(path, p, width):
    """BIG_RECORDS records of short decimals (node i moves by i/10000), then one at T_END.
    With a width, every value takes that many characters: a quarter blanks before it, the rest
    trailing zeros, which change no value. Written record by record, so the test's own memory
    stays flat too."""
    moves = {i: (repr(i / 10000),) * 2 for i in range(p.node_count)}
    with open(path, "w") as f:
        for j in range(BIG_RECORDS + 1):
            line = record(p, repr(big_time(p, j) if j < BIG_RECORDS else float(p.t_end)), moves)
            if width:
                line = " ".join(" " * (width // 4) + (v if "." in v else v + ".")
                                .ljust(width - width // 4, "0") for v in line.split()) + "\n"
            f.write(line)


def corpus(ctx):
    """(name, {file: content}, console from Enter to the end of the first run after the left
    click). Content is as for ctx.start; the grid's files where no other is named."""
    p = ctx.profile
    geo, tri = ctx.model_files().values()
    end = float(p.t_end)
    nothing = transcript(0.0, END_OF_RUN, 0.0, END_OF_RUN)
    big = transcript(*[big_time(p, j) for j in range(BIG_RECORDS)], end, END_OF_RUN)
    width = BIG_MEGABYTES * MILLION // (BIG_RECORDS * (p.header_values + 2 * p.pairs))
    inputs = [
        ("directories", {GEO: os.mkdir, TRI: os.mkdir, RES: os.mkdir}, nothing),
        # Named pipes nobody writes to: no wait at start-up or at the reopen, just no data.
        ("pipes-without-writer", {GEO: os.mkfifo, TRI: os.mkfifo, RES: os.mkfifo}, nothing),
        ("unreadable", {GEO: unopenable, TRI: unopenable, RES: unopenable},
         transcript(0.0, END_OF_RUN, CANNOT_OPEN, 0.0, END_OF_RUN, CANNOT_OPEN)),
        # The same records in a small file and in a huge one: every record is read, in order,
        # and no value is misread (peak memories compared in run).
        ("small-file", {RES: lambda path: write_big(path, p, 0)}, big),
        ("huge-file", {RES: lambda path: write_big(path, p, width)}, big),
    ]
    return [(name, {GEO: geo, TRI: tri, **files}, expected)
            for name, files, expected in inputs]


def run(ctx):
    peaks = {}
    for name, files, expected in corpus(ctx):
        print("input %s" % name, flush=True)  # names the input a failure below belongs to
        v = ctx.start(files, enter=False)
        v.expect_output((CANNOT_OPEN * 3 if name == "unreadable" else "") + PROMPT)
        v.send("\n")
        # One frame is drawn without input; only the silence after it tells whether it ended
        # the run, and so whether the left click starts a run of its own.
        head = v.wait_for("[s]\r") + v.settle(0.3)
        v.expect_picture(frame_probes(View(ctx.profile)), name)
        v.click(1)
        if not expected.startswith(head):
            raise Failure("%s: first frame %r, expected %r" % (name, head, expected[:200]))
        else:
            v.expect_output(expected[len(head):], timeout=4 * harness.TIMEOUT)
        # The button's release starts playback again if the run ended before it came, as it
        # does at once on a file without records: wait for that run too before the step.
        v.settle(0.3)
        v.click(2)
        v.wait_for("[s]\r")
        with open("/proc/%d/status" % v.proc.pid) as f:
            peaks[name] = int(f.read().split("VmHWM:")[1].split()[0])
        v.quit("q")
        v.stop()  # its files go now, and a sanitizer report fails here
    print("peak resident memory: %d kB for the small file, %d kB for the huge one"
          % (peaks["small-file"], peaks["huge-file"]))
    if peaks["huge-file"] > peaks["small-file"] + SLACK_KB:
        raise Failure("the huge file takes %d kB more" % (peaks["huge-file"] - peaks["small-file"]))


harness.main(run)
