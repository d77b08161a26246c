"""Replay: the first record is drawn after Enter without any input, at the right pixels; a resize
keeps the picture's size and centre while it consumes the next record; the end of the data ends
the run on the last record's picture."""

import harness
from harness import BLACK, View, frame_probes, grid_probes, progress


def moved_node_probes(v, node, move):
    return [
        ("moved node at its displaced place", lambda s: s.spot(*v.node(node, *move))),
        ("no node point at its rest place", lambda s: not s.spot(*v.node(node))),
        ("a triangle edge reaches the moved node", lambda s: s.near(*v.node(node, *move), BLACK)),
    ]


def run(ctx):
    p = ctx.profile
    node = p.node_count - 1  # the top-right corner, moved up and right into empty space
    move = (4 * p.dx / 3, 1.8 * p.dy) if p.name == "a" else (1.2 * p.dx, 3.6 * p.dy)
    first, later = p.t_end / 2.0, p.t_end / 4.0
    records = [(first, {node: move})] + [(later, {node: move})] * 3
    v = ctx.start(ctx.files(records), enter=False)
    v.expect_output(harness.PROMPT)
    v.send("\n")
    v.expect_output(progress(first))
    view = View(p)
    shot = v.expect_picture(frame_probes(view, first) + grid_probes(view)
                            + moved_node_probes(view, node, move), "first-record")
    ctx.save(shot, "first-record")

    # The picture keeps its pixel size and stays centred: every probe moves by half the growth.
    # A resize may bring a reshape and an expose, so it may draw one frame or two.
    v.resize(600, 300)
    v.wait_for(progress(later))
    wide = View(p, 600, 300)
    shot = v.expect_picture(frame_probes(wide, later) + grid_probes(wide)
                            + moved_node_probes(wide, node, move), "resized")
    ctx.save(shot, "resized")

    # Step to the end of the data: the frame that finds no time ends the run and leaves the last
    # record's picture on screen (not the rest mesh); the next frame is the first record again.
    v.settle()
    for _ in range(len(records) - len(harness.times(v.output))):
        v.click(2)
        v.expect_output(progress(later))
    v.click(2)
    v.wait_for(harness.END_OF_RUN)
    v.expect_picture(frame_probes(wide, later) + moved_node_probes(wide, node, move), "data-end")
    v.click(2)
    v.expect_output(progress(first))
    v.expect_picture(frame_probes(wide, first) + moved_node_probes(wide, node, move), "restarted")


harness.main(run)
