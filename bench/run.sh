#!/usr/bin/env bash
# Builds the benchmarks in Release, starts a private Xvfb and prints the speed figures of both
# programs: reading one record (medians of REPS repetitions), and frames of the real viewer, playing
# and drawing from memory (REPS runs of FRAMES frames each, alternating, so that other work on the
# machine weighs on all of them alike); then the exporter's rates next to reading alone
# (bench/export.py, best of REPS runs).
#
# Usage: bash bench/run.sh        Environment: REPS (default 5), FRAMES (2000), BUILD_DIR.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
reps="${REPS:-5}"
frames="${FRAMES:-2000}"

work="$(mktemp -d /tmp/meshplay-bench-run-XXXXXX)"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== building in Release ($build)" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHPLAY_BENCH=ON -DMESHPLAY_TESTS=OFF \
  >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

echo "Reading one record (median of $reps):"
for p in a b; do
  "$build/bench/meshplay-$p-read-bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep "record" | grep -v -E "_mean|_stddev|_cv"
done

echo "Frames (each run of $frames frames):"
for rep in $(seq "$reps"); do
  for p in a b; do
    for mode in play draw; do
      "$build/bench/meshplay-$p-frame-bench" "$mode" "$frames"
    done
  done
done | sort -s -k1,2

REPS="$reps" python3 "$root/bench/export.py" "$build"
