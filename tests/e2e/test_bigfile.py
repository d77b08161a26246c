"""A result file of several hundred megabytes plays through to its end of run, and the program's
peak resident memory stays within a few megabytes of what the same records take from a small
file: the reader streams the file through its fixed buffer, however long its lines and numbers."""

import os
import time

import harness
from harness import END_OF_RUN, RES, Failure, progress

MEGABYTES = 300
RECORDS = 500  # the same in both files, so that both runs draw the same frames
SLACK_KB = 4096


def write_result(path, p, width):
    """RECORDS records of short decimals (node i moves by i/10000, t = j/80), then one at T_END.
    With a width, every value takes that many characters: a quarter blanks before it, the rest
    trailing zeros, which change no value. Written record by record, so the test's own memory
    stays flat too."""
    moves = [repr(i / 10000) for i in range(p.node_count) for _ in "xy"]
    zeros = width - width // 4
    with open(path, "w") as f:
        for j in range(RECORDS + 1):
            t = repr(j / 80) if j < RECORDS else repr(float(p.t_end))
            values = [t] + ["0"] * (p.header_values - 1) + moves
            values += ["0"] * (p.header_values + 2 * p.pairs - len(values))
            if width:
                values = [" " * (width // 4) + (v if "." in v else v + ".").ljust(zeros, "0")
                          for v in values]
            f.write(" ".join(values) + "\n")


def play(ctx, width):
    """Runs the program on the file through to its end of run and one more frame; returns the
    file's size and the program's peak resident memory in kB."""
    p = ctx.profile
    v = ctx.start(dict(harness.model_files(p), **{RES: lambda path: write_result(path, p, width)}))
    size = os.path.getsize(os.path.join(v.dir, RES))
    v.expect_output(progress(0.0))
    started = time.monotonic()
    v.click(1)
    # The whole run, frame by frame: every record was read, in order, and no value was misread.
    v.expect_output("".join(progress(j / 80) for j in range(1, RECORDS)) + progress(p.t_end)
                    + END_OF_RUN, timeout=harness.TIMEOUT + size / 20e6)
    played = time.monotonic() - started
    v.settle(0.3)
    v.click(2)
    v.expect_output(progress(0.0))
    with open("/proc/%d/status" % v.proc.pid) as f:
        peak = int(f.read().split("VmHWM:")[1].split()[0])
    v.quit("q")
    v.stop()  # deletes the file
    print("%.1f MB played in %.1f s, peak resident memory %d kB" % (size / 1e6, played, peak))
    return size, peak


def run(ctx):
    values = RECORDS * (ctx.profile.header_values + 2 * ctx.profile.pairs)
    small, small_peak = play(ctx, 0)
    large, large_peak = play(ctx, MEGABYTES * 1000000 // values)
    if large_peak > small_peak + SLACK_KB:
        raise Failure("peak memory %d kB with %.0f MB, %d kB with %.1f MB"
                      % (large_peak, large / 1e6, small_peak, small / 1e6))


harness.main(run)
