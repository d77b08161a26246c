"""Controls: hold-to-play on the right button, single steps, display toggles, zoom, rewind, and a
left click that plays to the end of the run and stops there, on the real program's pixels. (The
pause key's turns, inert upper-case letters and the other rows of the controls table are the unit
tests' part.)"""

import math

import harness
from harness import BLACK, END_OF_RUN, Failure, View, frame_probes, grid_probes, progress, times



def run(ctx):
    p = ctx.profile
    # Enough records that playback cannot reach the end while a button is being released: more
    # for a small model, whose frames are quick.
    STEPS = max(150, min(1500, 1000000 // p.element_count))
    # Distinct times below T_END, then one just below it, the end record, and two records after
    # it that a correct run never shows.
    ts = [i * 0.9 * p.t_end / STEPS for i in range(STEPS)] + [p.t_end - 0.01, p.t_end + 0.5]
    v = ctx.start(ctx.files([(t, {}) for t in ts + [2.0, 3.0]]))
    v.expect_output(progress(ts[0]))
    shown = 0  # index of the record on screen

    def frames(count):  # the console text of the next `count` records
        return "".join(progress(t) for t in ts[shown + 1:shown + 1 + count])

    def steps(count, then=""):
        nonlocal shown
        v.expect_output(frames(count) + then)
        shown += count

    def played(what, least=0, most=STEPS):
        """Waits for silence: the console shows `least` to `most` of the next records, one frame
        each, and nothing else. Running playback also draws the next records in order, so only
        the silence that follows tells a single step from playback that did not stop."""
        nonlocal shown
        got = v.settle()
        n = len(times(got))
        if got != frames(n) or not least <= n <= most:
            raise Failure("%s: console %r" % (what, got[:200]))
        shown += n

    def picture(name, scale=None, nodes=True, elements=True):
        view = View(p, scale=scale)
        v.expect_picture(frame_probes(view, ts[shown]) + grid_probes(view, nodes, elements), name)

    # Right button: plays while held, stops on release; the frames drawn stay consumed.
    v.act("mousedown", "3")
    steps(3)
    v.act("mouseup", "3")
    played("right button hold")

    # The middle button draws exactly one frame while stopped.
    v.click(2)
    steps(1)

    # n and e hide the nodes and the triangles; each toggle is a redraw, so it takes a record.
    for key, nodes, elements in (("n", False, True), ("e", False, False), ("n", True, False),
                                 ("e", True, True)):
        v.key(key)
        steps(1)
        picture("toggled-" + key, nodes=nodes, elements=elements)

    # Each press of the down arrow adds a step to the scale, twelve of them (from 0.03 to 0.06 in
    # A and B) halve the picture. The up arrow brings it back, and further up never takes the
    # scale below half a step: two presses more than it takes leave the last scale of whole steps
    # down that is not below half a step (0.0025, eleven steps down, in A and B), where the grid's
    # centre node sits at the window centre and the grid is 12 times its size. Without that floor
    # the scale would go on to 0 and below, a mirrored grid, with node points half-way between
    # those expected.
    # Every press posts a redraw, but redraws posted before the next frame merge into one, so a
    # quick run of presses may draw fewer frames than it has presses.
    centre = p.corner(p.nx // 2, p.ny // 2)
    start, step = p.scale_init, p.scale_step
    down = math.floor((start - step / 2) / step)  # the presses that reach the floor
    for key, presses, name, scale in (("Down", 12, "zoomed-out", start + 12 * step),
                                      ("Up", 12, "zoomed-back", start),
                                      ("Up", down + 2, "zoomed-in", start - down * step),
                                      ("Down", down, "zoomed-back-again", start)):
        v.key(*[key] * presses)
        played("%d x %s" % (presses, key), 1, presses)
        if name != "zoomed-in":
            picture(name, scale=scale)
        else:
            view = View(p, scale=scale)
            half_way = view.px(p.dx / 2, 0)
            v.expect_picture([("centre node", lambda s: s.spot(*view.node(centre))),
                              ("edge right of it", lambda s: s.near(*half_way, BLACK)),
                              ("no node half-way", lambda s: not s.spot(*half_way))], name)

    # r while stopped does nothing until the next redraw, which ends the run; then one more
    # redraw shows the first record again.
    v.key("r")
    played("after r", 0, 0)
    v.click(2)
    v.expect_output(progress(ts[shown + 1]) + END_OF_RUN + progress(ts[0]))
    shown = 0
    picture("rewound")

    # A left click plays on after its release up to the record in [T_END, T_END + 1), stops
    # there, and the records after it are never drawn; the end record stays on screen.
    v.click(1)
    steps(len(ts) - 1 - shown, END_OF_RUN)
    picture("end-of-run")
    # The result file was reopened: the next redraw shows the first record again.
    v.click(2)
    v.expect_output(progress(ts[0]))
    shown = 0
    played("after the first record was shown again", 0, 0)
    picture("restarted")


harness.main(run)
