"""Exporter: the run read back from the .pvd/.vtu and .msh files with meshio (Debian's
python3-meshio) against the values written into the input files: points, drawn triangles,
displacements and times, the run ending where the viewer's ends, a NaN written as 0 with one
warning; and its failures, each one line on stderr, status 1, nothing under the final names.
Needs no display. Arguments: <program>.json ARTIFACT_DIR."""

import atexit, json, os, resource, shutil, signal, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

import meshio
import numpy as np

tools = json.load(open(sys.argv[1]))
N, T_END = tools["NODE_COUNT"], tools["T_END"]
PAIRS = tools["VECTOR_PAIRS"] + tools["BASE_PAIRS"]


def check(condition, what):
    if not condition:
        sys.exit("FAIL: " + what)


def moves(k):  # the displacement of every node at record k, as a 3-vector
    return np.array([[(i + 1) * 1e-5 + k * 1e-3, -(i + 1) * 3e-6, 0] for i in range(N)])


def record(t, k):  # one line of result.dat; pairs after the nodes' displacements are 7
    pairs = ["%r %r" % (float(x), float(y)) for x, y, _ in moves(k)] + ["7 7"] * (PAIRS - N)
    return " ".join([repr(t)] + ["0"] * (tools["HEADER_VALUES"] - 1) + pairs) + "\n"


def export(folder, *args, limit=None):
    def limit_file_size():  # a full disk as a write sees it: EFBIG past `limit` bytes
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return subprocess.run([tools["export"], *args], cwd=folder, capture_output=True, text=True,
                          timeout=60, preexec_fn=limit_file_size if limit else None)


def folder():  # removed at exit, whether the case passes or fails
    path = tempfile.mkdtemp(prefix="meshplay-export-")
    atexit.register(shutil.rmtree, path, ignore_errors=True)
    return path


work = folder()
subprocess.run([tools["demodata"], work], check=True, stdout=subprocess.DEVNULL)
geo = np.c_[np.loadtxt(os.path.join(work, "geodata.dat"))[:, 1:], np.zeros(N)]
moved = geo + [0.5, 0.25, 0]  # a second block of nodes: the tables from the second record on
with open(os.path.join(work, "geodata.dat"), "a") as f:
    f.writelines("%d %r %r\n" % (i, x, y) for i, (x, y, _) in enumerate(moved))
    f.write("0 nan %r\n" % moved[0, 1])  # a third block: node 0's x only, not a number
moved_nan = moved.copy()
moved_nan[0, 0] = 0.0
tri = np.loadtxt(os.path.join(work, "tridata.dat"), dtype=np.int64)[:, 1:]
tri[5, 1] = N  # a triangle naming no node: the viewer skips it, the export leaves it out
with open(os.path.join(work, "tridata.dat"), "w") as f:
    f.writelines("%d %d %d %d\n" % (k, *t) for k, t in enumerate(tri))
drawn = np.delete(tri, 5, axis=0)
# The record at T_END ends the run: the one after it is never shown, so never exported.
times = [0.5, 1.25, 2.0, 3.0, float(T_END), T_END + 0.5]
rows = [record(t, k) for k, t in enumerate(times)]
rows[1] = rows[1].replace(repr(float(moves(1)[1, 0])), "nan", 1)  # node 1's dx at t = 1.25
with open(os.path.join(work, "result.dat"), "w") as f:
    f.writelines(rows)


def check_steps(name, steps, want_times, ks, one_mesh):
    """steps: (time, meshio mesh) per exported step; exact: both formats keep every bit. A .msh
    (one_mesh) keeps the nodes of its first step throughout."""
    check([t for t, _ in steps] == want_times, "%s: times %r" % (name, [t for t, _ in steps]))
    for (t, m), k in zip(steps, ks):
        nodes = [geo, moved, moved_nan][min(ks[0] if one_mesh else k, 2)]
        check(np.array_equal(m.points, nodes), "%s: points at %g" % (name, t))
        check(np.array_equal(m.cells_dict["triangle"], drawn), "%s: triangles at %g" % (name, t))
        want = moves(k)
        want[1, 0] = 0 if k == 1 else want[1, 0]
        check(np.array_equal(m.point_data["displacement"], want), "%s: moves at %g" % (name, t))


def read_pvd(path):
    sets = ET.parse(path).getroot().findall("./Collection/DataSet")
    return [(float(s.get("timestep")), meshio.read(os.path.join(work, s.get("file"))))
            for s in sets]


def read_msh(path):
    """meshio keeps only the last $NodeData of a name and drops its time and node numbers: each
    block is read with the mesh alone, its tags and node numbers checked here."""
    head, *blocks = open(path).read().split("$NodeData\n")
    lines = head.split("$Elements\n")[1].split("\n")[1:1 + len(drawn)]  # number, type 2, 2 tags
    check(all(e.split()[:5] == [str(j + 1), "2", "2", "0", "1"] for j, e in enumerate(lines)),
          "msh elements %r" % lines[:2])
    steps = []
    for k, block in enumerate(blocks):
        tags = block.split("\n")
        numbers = [int(line.split()[0]) for line in tags[8:8 + N]]
        check(tags[:3] == ['1', '"displacement"', '1'] and tags[4:8] == ["3", str(k), "3", str(N)]
              and numbers == list(range(1, N + 1)), "msh tags %r" % tags[:8])
        one = os.path.join(work, "one.msh")
        with open(one, "w") as f:
            f.write(head + "$NodeData\n" + block)
        steps.append((float(tags[3]), meshio.read(one, file_format="gmsh")))
        os.remove(one)
    return steps


name = os.path.basename(tools["export"])
nan = name + ": warning: %s (NaN or infinity) written as 0\n"
changed = name + ": warning: the node or triangle table changed during the run; run.msh holds " \
    "the mesh of its first time step\n"
one_nan = nan % "1 value that is not a finite number"
# The NaN displacement once; the NaN coordinate in each .vtu of steps 2 to 4, not in the .msh.
for out, read, stderr in (
        ("run.pvd", read_pvd, nan % "4 values that are not finite numbers"),
        ("run.msh", read_msh, one_nan + changed)):
    r = export(work, out)
    check(r.returncode == 0 and r.stderr == stderr, "%s: %r" % (out, r.stderr))
    check_steps(out, read(os.path.join(work, out)), times[:5], range(5), out.endswith("msh"))
r = export(work, "cut.msh", "--every", "2", "--from", "1", "--to=3")
check(r.returncode == 0 and r.stderr == one_nan + changed.replace("run.", "cut."),
      "cut: %r" % r.stderr)
check_steps("cut", read_msh(os.path.join(work, "cut.msh")), [1.25, 3.0], [1, 3], True)

# Failures: (arguments, folder, file size limit, the message's start after the program's name).
os.mkdir(os.path.join(work, "run2"))
open(os.path.join(work, "run2", "old.vtu"), "w").close()
blank = folder()
for f in ("geodata.dat", "tridata.dat", "result.dat"):
    shutil.copy(os.path.join(work, f), blank)
open(os.path.join(blank, "result.dat"), "w").close()  # no record
failures = [
    (["x.msh"], blank, None, "result.dat: no time step to read"),
    (["x.msh", "--from", "100"], work, None, "no time step of the run lies within --from 100"),
    (["x.msh", "--bogus"], work, None, "unknown option '--bogus'"),
    (["x.vtk"], work, None, "x.vtk: unknown output format"),
    ([], work, None, "expected OUTPUT"),
    (["x.msh", "--from", "3", "--to", "2"], work, None, "--from 3 lies after --to 2"),
    (["geodata.dat/x.msh"], work, None, "geodata.dat/x.msh: Not a directory"),
    (["geodata.dat/x.pvd"], work, None, "geodata.dat/x: Not a directory"),
    (["x.msh"], work, 2000, "x.msh: File too large"),
    (["x.pvd"], work, 2000, "x/x_000000.vtu: File too large"),
    (["run2.pvd"], work, None, "run2: exists already"),
]
for args, where, limit, message in failures:
    before = sorted(os.listdir(where))
    r = export(where, *args, limit=limit)
    check(r.returncode == 1 and r.stderr.startswith("%s: %s" % (name, message))
          and r.stderr.count("\n") == 1, "%r: %d %r" % (args, r.returncode, r.stderr))
    check(sorted(os.listdir(where)) == before, "%r left %r" % (args, os.listdir(where)))
