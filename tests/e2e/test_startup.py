"""Start-up: the messages for missing input files and the prompt, the wait for Enter (or the end
of the console input) before any window exists, the window itself, and the quit keys."""

import re

import harness
from harness import CANNOT_OPEN, END_OF_RUN, PROMPT, WHITE, View, frame_probes, progress


def run(ctx):
    # No input files at all: three messages, then the prompt, then a wait on the console.
    v = ctx.start(enter=False)
    v.expect_output(CANNOT_OPEN * 3 + PROMPT)
    harness.poll(v.reading_stdin, what="the program to wait on its console input")
    if v.windows_titled():
        raise harness.Failure("a window exists before Enter was pressed")
    v.send("\n")
    shot = v.shot()
    if (shot.width, shot.height) != (300, 300):
        raise harness.Failure("window is %d x %d, not 300 x 300" % (shot.width, shot.height))
    v.expect_picture([("white background", lambda s: all(
        s.matches(x, y, WHITE) for x in (1, 75, 150, 225, 298) for y in (1, 40, 298)))],
        "no-files")
    # With no result file the first frame finds no time: the run ends at once, and reopening
    # the missing file is reported again.
    got = v.wait_for(CANNOT_OPEN)
    if not re.fullmatch(r"Progress:  Virtual:[^\r\n]*\r" + re.escape(END_OF_RUN + CANNOT_OPEN), got):
        raise harness.Failure("console after Enter without files: %r" % got)
    v.key("q")
    if v.wait_exit() != 0:
        raise harness.Failure("q: exit status %d" % v.proc.returncode)

    # The end of the console input lets start-up go on as Enter does.
    p = ctx.profile
    v = ctx.start(ctx.files([(1.0, {}), (2.0, {})]), enter=False)
    v.expect_output(PROMPT)
    v.close_stdin()
    v.expect_output(progress(1.0))
    v.expect_picture(frame_probes(View(p), 1.0), "stdin-closed")
    v.key("Escape")
    if v.wait_exit() != 0:
        raise harness.Failure("Escape: exit status %d" % v.proc.returncode)


harness.main(run)
