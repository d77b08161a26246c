#!/usr/bin/env python3
"""Export speed: meshplay-X-export on each profile's demo, records per second writing each format,
next to reading alone (the same run stepped with nothing written but its first and last records:
--every larger than the run, which keeps each record read until the next shows it was not the
last). Best of REPS runs each, the three interleaved so that other work on the
machine weighs on all of them alike; wall-clock time, and the CPU time (user + system) of the
run, which a loaded machine disturbs less. Output goes to a fresh folder in OUT_DIR, a new name
every run: ext4 takes much longer to create files just after others were deleted (it skips
recently freed inodes), which a user's export does not meet.

Usage: python3 bench/export.py BUILD_DIR [a b ...]   (default: every program the build describes)
Environment: REPS (default 5), OUT_DIR (/tmp)."""

import glob
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1])
profiles = sys.argv[2:] or sorted(os.path.basename(p)[len("meshplay-"):-len(".json")]
                                  for p in glob.glob(os.path.join(build, "meshplay-*.json")))
reps = int(os.environ.get("REPS", "5"))
work = tempfile.mkdtemp(prefix="meshplay-bench-export-", dir=os.environ.get("OUT_DIR", "/tmp"))


def run(profile, *args):
    """(wall, cpu) seconds of one run of the exporter in the demo's folder."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run([os.path.join(build, "meshplay-%s-export" % profile), *args], cwd=work,
                   check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def size_mb(*paths):
    total = 0
    for path in paths:
        for folder, _, files in os.walk(path) if os.path.isdir(path) else [("", [], [path])]:
            total += sum(os.path.getsize(os.path.join(folder, f)) for f in files)
    return "%.0f MiB" % (total / 2**20)


def measure(profile):
    shutil.rmtree(work)  # a fresh folder for each profile's demo and outputs
    os.mkdir(work)
    subprocess.run([os.path.join(build, "meshplay-%s-demodata" % profile), work], check=True,
                   stdout=subprocess.DEVNULL)
    modes = {"reading alone": ["--every", "1000000000"], ".msh (Gmsh)": [],
             ".pvd + .vtu (ParaView)": []}
    best = {mode: (float("inf"), float("inf")) for mode in modes}
    for rep in range(reps):
        for mode, args in modes.items():
            out = "out-%d.%s" % (rep, "pvd" if "pvd" in mode else "msh")
            wall, cpu = run(profile, out, *args)
            best[mode] = (min(best[mode][0], wall), min(best[mode][1], cpu))
    with open(os.path.join(work, "out-0.pvd")) as f:
        records = f.read().count("<DataSet")
    sizes = {"reading alone": "-", ".msh (Gmsh)": size_mb(os.path.join(work, "out-1.msh")),
             ".pvd + .vtu (ParaView)": size_mb(*(os.path.join(work, p)
                                                 for p in ("out-2.pvd", "out-2")))}
    fs = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True, text=True).stdout
    print("Export of the profile-%s demo, %d records (best of %d runs; output on %s):"
          % (profile.upper(), records, reps, fs.strip()))
    print("%-24s %10s %8s %10s %9s %8s" % ("", "records/s", "ms/run", "vs reading", "CPU ms",
                                           "output"))
    read_wall = best["reading alone"][0]
    for mode, (wall, cpu) in best.items():
        print("%-24s %10.0f %8.1f %10.2f %9.1f %8s" % (mode, records / wall, wall * 1e3,
                                                      read_wall / wall, cpu * 1e3, sizes[mode]))


try:
    for profile in profiles:
        measure(profile)
finally:
    shutil.rmtree(work)
