#!/usr/bin/env python3
"""Prints the table of bench/run.sh from the files it left in a folder: read-a.json and read-b.json
(Google Benchmark, median aggregates), frames.txt and memory.txt (one key=value line per run of a
frame benchmark). Reading figures are CPU time, frame figures wall-clock time."""

import json
import os
import platform
import re
import statistics
import subprocess
import sys

folder = sys.argv[1]


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return f"{os.cpu_count()} cores (nproc {subprocess.run(['nproc'], capture_output=True, text=True).stdout.strip()}), {cpu}, Linux {platform.release()}"


def read_figures(profile):
    with open(os.path.join(folder, f"read-{profile}.json")) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        # With one repetition there are no aggregates, only the run itself.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b["run_name"]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
        out[name] = {"us": b["cpu_time"] * scale, "label": b.get("label", "")}
    return out


def runs(path):
    rows, gl = [], ""
    if not os.path.exists(path):
        return rows, gl
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                gl = line[1:].strip()
                continue
            rows.append(dict(kv.split("=", 1) for kv in line.split()))
    return rows, gl


def profile_letter(value):
    return re.sub(r"profile_(\w)\.h", r"\1", value).upper()


def check(ok):
    return "holds" if ok else "MISSED"


frames, gl = runs(os.path.join(folder, "frames.txt"))
memory, gl2 = runs(os.path.join(folder, "memory.txt"))
gl = gl or gl2

print()
print(f"Machine: {machine()}")
print(f"GL: {gl} under Xvfb, 300 x 300 window")
print()

# --- reading ---
print("Reading one result record (median of the repetitions, CPU time)")
header = f"{'profile':<8}{'values':>7}{'bytes':>7}  {'readers':>17}  {'fscanf per value':>19}  {'token limit':>17}  {'fscanf/readers':>14}  {'readers/limit':>13}"
print(header)
targets = []
exhausted = {}
for p in ("a", "b"):
    r = read_figures(p)
    m = re.match(r"(\d+) values, (\d+) bytes", r["readers"]["label"])
    values, size = int(m.group(1)), int(m.group(2))

    def cell(name):
        us = r[name]["us"]
        return f"{us:7.1f} us {size / us:5.0f} MB/s"

    speedup = r["fscanfPerValue"]["us"] / r["readers"]["us"]
    to_limit = r["readers"]["us"] / r["tokenBoundaries"]["us"]
    print(f"{p.upper():<8}{values:>7}{size:>7}  {cell('readers'):>17}  {cell('fscanfPerValue'):>19}  {cell('tokenBoundaries'):>17}  {speedup:13.1f}x  {to_limit:12.2f}x")
    exhausted[p] = r["exhaustedTableReads"]["us"] * 1000
    if p == "b":
        targets.append((f"profile-B record read at least 6x faster than fscanf per value: {speedup:.1f}x", speedup >= 6))
        targets.append((f"profile-B record read within 5x of the token-boundary limit: {to_limit:.2f}x", to_limit <= 5))
print(f"Node and element reads on exhausted streams, per frame: A {exhausted['a']:.1f} ns, B {exhausted['b']:.1f} ns")
for p in ("a", "b"):
    targets.append((f"profile-{p.upper()} node+element reads on exhausted streams under 2 us: {exhausted[p]:.1f} ns", exhausted[p] < 2000))
print()

# --- frames ---
if frames:
    n = len([f for f in frames if f["mode"] == "draw"]) // 2
    print(f"Frames (median of {n} runs of {frames[0]['frames']} frames each; frame = drawFrame including glutSwapBuffers)")
    print(f"{'profile':<8}{'kind':<24}{'frames/s':>9}{'median ms':>11}{'p95 ms':>9}{'p95/median':>12}{'faults/frame':>14}{'faulting frames':>17}")
    fps = {}
    kinds = (("play", "viewer", "playback"), ("draw", "viewer", "draw-only"),
             ("play", "defaults", "playback, glibc defaults"))
    for p in ("A", "B"):
        for mode, allocator, name in kinds:
            rows = [f for f in frames if profile_letter(f["profile"]) == p and f["mode"] == mode
                    and f.get("allocator", "viewer") == allocator]
            if not rows:
                continue

            def med(key):
                return statistics.median(float(f[key]) for f in rows)

            faulting = ""
            if med("faulting_frames") > 0:
                faulting = f"{med('faulting_frames'):.0f} at {med('faulting_median_ms'):.2f} ms"
            fps[(p, mode, allocator)] = med("fps")
            ratio = med("p95_over_median")
            print(f"{p:<8}{name:<24}{med('fps'):9.0f}{med('median_ms'):11.3f}{med('p95_ms'):9.3f}{ratio:12.2f}{med('minflt_per_frame'):14.2f}{faulting:>17}")
            if mode == "play" and allocator == "viewer":
                targets.append((f"profile-{p} replay smooth, p95 frame time within 1.5x of the median: {ratio:.2f}x", ratio <= 1.5))
    print("(faulting frames: frames with 25 or more page faults, and their median time)")
    print()
    print("CPU time of all threads per frame (less sensitive to other work on the machine)")
    print(f"{'profile':<8}{'kind':<24}{'mean ms':>9}{'median ms':>11}{'p95 ms':>9}{'p95/median':>12}")
    for p in ("A", "B"):
        for mode, allocator, name in kinds:
            rows = [f for f in frames if profile_letter(f["profile"]) == p and f["mode"] == mode
                    and f.get("allocator", "viewer") == allocator]
            if not rows or "cpu_median_ms" not in rows[0]:
                continue

            def cmed(key):
                return statistics.median(float(f[key]) for f in rows)

            ratio = statistics.median(float(f["cpu_p95_ms"]) / float(f["cpu_median_ms"]) for f in rows)
            print(f"{p:<8}{name:<24}{cmed('cpu_mean_ms'):9.3f}{cmed('cpu_median_ms'):11.3f}{cmed('cpu_p95_ms'):9.3f}{ratio:12.2f}")
    print()
    for p in ("A", "B"):
        separate = None
        if (p, "play", "viewer") in fps and (p, "draw", "viewer") in fps:
            separate = fps[(p, "play", "viewer")] / fps[(p, "draw", "viewer")]
            print(f"Profile {p}: playback at {100 * separate:.1f}% of the draw-only frame rate (separate runs)")
        pairs = [f for f in frames if profile_letter(f["profile"]) == p and f["mode"] == "paired"]
        if pairs:
            paired = statistics.median(float(f["memory_mean_ms"]) / float(f["reading_mean_ms"]) for f in pairs)
            reading = statistics.median(float(f["reading_mean_ms"]) for f in pairs)
            in_memory = statistics.median(float(f["memory_mean_ms"]) for f in pairs)
            print(f"Profile {p}: frames that read the file {reading:.3f} ms, frames with the record in memory {in_memory:.3f} ms "
                  f"(one process, alternating blocks of {pairs[0]['block']}): playback at {100 * paired:.1f}% of draw-only")
            note = f" (separate runs: {100 * separate:.1f}%)" if separate is not None else ""
            targets.append((f"profile-{p} playback frames/s within 10% of draw-only: {100 * paired:.1f}% paired{note}", paired >= 0.9))
        elif separate is not None:
            targets.append((f"profile-{p} playback frames/s within 10% of draw-only: {100 * separate:.1f}%", separate >= 0.9))
    print()

# --- memory ---
if memory:
    print("Peak resident memory of a replay (getrusage ru_maxrss)")
    print(f"{'profile':<8}{'file':>6}  {'replay':<36}{'frames':>8}{'peak RSS':>13}")
    peaks = {}
    for row in memory:
        p = profile_letter(row["profile"])
        peaks[(p, row["file"], row["run"])] = int(row["maxrss_kb"])
        what = "one pass" if row["run"] == "one-pass" else "over and over, as many frames as 1 GB"
        print(f"{p:<8}{row['file']:>6}  {what:<36}{int(row['frames']):>8}{int(row['maxrss_kb']) / 1024:9.1f} MiB")
    for p in ("A", "B"):
        big = peaks.get((p, "1GB", "one-pass"))
        equal = peaks.get((p, "1MB", "equal-frames"))
        small = peaks.get((p, "1MB", "one-pass"))
        if big is None or equal is None:
            continue
        diff = (big - equal) / 1024
        targets.append((f"profile-{p} peak RSS, 1 GB file minus 1 MB file over as many frames: {diff:+.2f} MiB", abs(diff) <= 1.0))
        if small is not None:
            print(f"Profile {p}: one pass over 1 GB minus one pass over 1 MB: {(big - small) / 1024:+.2f} MiB (GL driver warm-up over the longer replay)")
    print()

print("Targets")
for text, ok in targets:
    print(f"  [{check(ok)}] {text}")
