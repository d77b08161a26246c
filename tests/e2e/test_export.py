"""Exporter: the run read back from the .pvd/.vtu and .msh files with meshio (Debian's
python3-meshio) against the values written into the input files: points, drawn triangles,
displacements and times, the run ending where the viewer's ends, tables that change during the run,
a NaN written as 0 with one warning, every N-th step with the last. Its failures are among the
companions' cases."""

import os
import xml.etree.ElementTree as ET

import meshio
import numpy as np

import harness
from harness import GEO, RES, TRI, Failure


def run(ctx):
    p = ctx.profile
    n = p.node_count

    def moves(k):  # the displacement of every node at record k, as a 3-vector
        return np.array([[(i + 1) * 1e-5 + k * 1e-3, -(i + 1) * 3e-6, 0] for i in range(n)])

    def record(t, k):  # one line of result.dat; pairs after the nodes' displacements are 7
        pairs = ["%r %r" % (float(x), float(y)) for x, y, _ in moves(k)] + ["7 7"] * (p.pairs - n)
        return " ".join([repr(t)] + ["0"] * (p.header_values - 1) + pairs) + "\n"

    model = ctx.model_files()
    geo = np.c_[np.array([line.split()[1:] for line in model[GEO].splitlines()], float),
                np.zeros(n)]
    moved = geo + [0.5, 0.25, 0]  # a second block of nodes: the tables from the second record on
    moved_nan = moved.copy()
    moved_nan[0, 0] = 0.0  # a third: node 0's x only, not a number
    tri = np.array([line.split()[1:] for line in model[TRI].splitlines()], np.int64)
    tri[5, 1] = n  # a triangle naming no node: the viewer skips it, the export leaves it out
    drawn = np.delete(tri, 5, axis=0)
    # The record at T_END ends the run: the one after it is never shown, so never exported.
    u = p.t_end / 15  # times as in a run of 15 s
    times = [0.5 * u, 1.25 * u, 2 * u, 3 * u, float(p.t_end), p.t_end + 0.5]
    rows = [record(t, k) for k, t in enumerate(times)]
    rows[1] = rows[1].replace(repr(float(moves(1)[1, 0])), "nan", 1)  # node 1's dx at t = 1.25
    work = ctx.folder({
        GEO: model[GEO] + "".join("%d %r %r\n" % (i, x, y) for i, (x, y, _) in enumerate(moved))
        + "0 nan %r\n" % moved[0, 1],
        TRI: "".join("%d %d %d %d\n" % (k, *t) for k, t in enumerate(tri)),
        RES: "".join(rows)})

    def export(*args, where=work, limit=None):
        return ctx.companion("export", where, *args, limit=limit).finish()

    def check_steps(name, steps, ks, one_mesh):
        """steps: (time, meshio mesh) per exported step, every bit kept; a .msh (one_mesh) keeps
        the nodes of its first step throughout."""
        if [t for t, _ in steps] != [times[k] for k in ks]:
            raise Failure("%s: times %r" % (name, [t for t, _ in steps]))
        for (t, m), k in zip(steps, ks):
            want = moves(k)
            want[1, 0] = 0 if k == 1 else want[1, 0]
            if not (np.array_equal(m.points, [geo, moved, moved_nan][min(ks[0] if one_mesh else k, 2)])
                    and np.array_equal(m.cells_dict["triangle"], drawn)
                    and np.array_equal(m.point_data["displacement"], want)):
                raise Failure("%s: points, triangles or displacements at %g" % (name, t))

    def read_pvd(path):
        sets = ET.parse(path).getroot().findall("./Collection/DataSet")
        return [(float(s.get("timestep")), meshio.read(os.path.join(work, s.get("file"))))
                for s in sets]

    def read_msh(path):
        """meshio keeps only the last $NodeData of a name: each block is read with the mesh."""
        head, *blocks = open(path).read().split("$NodeData\n")
        steps = []
        for block in blocks:
            one = os.path.join(work, "one.msh")
            with open(one, "w") as f:
                f.write(head + "$NodeData\n" + block)
            steps.append((float(block.split("\n")[3]), meshio.read(one, file_format="gmsh")))
            os.remove(one)
        return steps

    name = os.path.basename(ctx.tools["export"])
    nan = name + ": warning: %s (NaN or infinity) written as 0\n"
    changed = name + ": warning: the node or triangle table changed during the run; %s holds " \
        "the mesh of its first time step\n"
    one_nan = nan % "1 value that is not a finite number"
    # The NaN displacement once; the NaN coordinate in each .vtu of steps 2 to 4, not in the .msh.
    for out, read, ks, args, stderr in (
            ("run.pvd", read_pvd, range(5), [], nan % "4 values that are not finite numbers"),
            ("run.msh", read_msh, range(5), [], one_nan + changed % "run.msh"),
            ("cut.MSH", read_msh, [1, 3], ["--every", "2", "--from", repr(u), "--to=%r" % (3.5 * u)],
             one_nan + changed % "cut.MSH"),
            ("last.msh", read_msh, [0, 3, 4], ["--every", "3"], changed % "last.msh")):
        status, _, err = export(out, *args)
        if status != 0 or err != stderr:
            raise Failure("%s %s: status %d, %r" % (out, args, status, err))
        check_steps(out, read(os.path.join(work, out)), ks, out.endswith(("msh", "MSH")))


harness.main(run)
