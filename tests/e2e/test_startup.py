"""Start-up and replay: the messages for missing input files and the prompt, the wait for Enter
before any window exists, the window and the quit keys; the first record drawn after Enter without
any input, at the right pixels; a resize that keeps the picture's size and centre; a result file
that a solver writes into a named pipe."""

import os
import re

import harness
from harness import (BLACK, CANNOT_OPEN, END_OF_RUN, PROMPT, WHITE, Failure, View, frame_probes,
                     grid_probes, progress)


def run(ctx):
    # No input files at all: three messages, then the prompt, then a wait on the console.
    v = ctx.start(enter=False)
    v.expect_output(CANNOT_OPEN * 3 + PROMPT)
    harness.poll(v.reading_stdin, what="the program to wait on its console input")
    if ctx.x("xdotool", "search", "--name", v.title, check=False).split():
        raise Failure("a window exists before Enter was pressed")
    v.send("\n")
    shot = v.shot()
    if (shot.width, shot.height) != (300, 300):
        raise Failure("window is %d x %d, not 300 x 300" % (shot.width, shot.height))
    v.expect_picture([("white background", lambda s: all(
        s.matches(x, y, WHITE) for x in (1, 75, 150, 225, 298) for y in (1, 40, 298)))],
        "no-files")
    # With no result file the first frame finds no time: the run ends at once, and reopening
    # the missing file is reported again.
    got = v.wait_for(CANNOT_OPEN)
    if not re.fullmatch(r"Progress:  Virtual:[^\r\n]*\r" + re.escape(END_OF_RUN + CANNOT_OPEN),
                        got):
        raise Failure("console after Enter without files: %r" % got)
    v.quit("q")

    p = ctx.profile
    node = p.node_count - 1  # the top-right corner, moved up and right into empty space
    move = (View(p).model(10), View(p).model(30))
    first, later = p.t_end / 2.0, p.t_end / 4.0
    records = [(t, {node: move}) for t in (first, later, later, later)]

    def picture(view, t):
        return frame_probes(view, t) + grid_probes(view) + [
            ("moved node at its displaced place", lambda s: s.spot(*view.node(node, *move))),
            ("a triangle edge reaches the moved node",
             lambda s: s.near(*view.node(node, *move), BLACK))] + ([] if view.fine() else [
                 ("no node point at its rest place", lambda s: not s.spot(*view.node(node)))])

    v = ctx.start(ctx.files(records))
    v.expect_output(progress(first))
    v.expect_picture(picture(View(p), first), "first-record")

    # The picture keeps its pixel size and stays centred: every probe moves by half the growth.
    # A resize may bring a reshape and an expose, so it may draw one frame or two.
    v.resize(600, 300)
    v.wait_for(progress(later))
    wide = View(p, 600, 300)
    v.expect_picture(picture(wide, later), "resized")

    v.quit("q")


def pipe_from_a_solver(ctx):
    """A solver writing its results into a named pipe in result.dat's place: a record shows as soon
    as it has been written, while the writer pauses before the next."""
    p = ctx.profile
    v = ctx.start(dict(ctx.model_files(), **{harness.RES: os.mkfifo}), enter=False)
    v.expect_output(PROMPT)  # the viewer has the pipe open: opening it to write does not wait
    writer = os.open(os.path.join(v.dir, harness.RES), os.O_WRONLY)
    try:
        # Each record is written once the frame that reads it has begun: a large model's record
        # is more than a pipe holds, so the write ends only as the viewer reads.
        v.send("\n")
        os.write(writer, harness.results(p, [(0.25, {})]).encode())
        v.expect_output(progress(0.25))
        v.expect_picture(frame_probes(View(p), 0.25), "first-record-from-pipe")
        v.click(2)
        os.write(writer, harness.results(p, [(0.5, {})]).encode())
        v.expect_output(progress(0.5))
    finally:
        os.close(writer)
    v.quit("q")


harness.main(lambda ctx: (run(ctx), pipe_from_a_solver(ctx)))
