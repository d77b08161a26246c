#!/usr/bin/env bash
# Builds the benchmarks in Release, starts a private Xvfb and prints the speed figures of every
# program the build has, or of those named: reading one record (medians of REPS repetitions), with
# the cost per number; frames of the real viewer, playing and drawing from memory (REPS runs of
# FRAMES frames each, alternating, so that other work on the machine weighs on all of them alike),
# with the cost per 1000 triangles; the recorder on each demo; then the exporter's rates next to
# reading alone (bench/export.py, best of REPS runs); and the live server under load
# (bench/serve.py).
#
# Usage: bash bench/run.sh [a b ...]    Environment: REPS (default 5), FRAMES (2000), BUILD_DIR.
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
# The profiles: those named, or every program the build describes.
profiles="$*"
[ -n "$profiles" ] || profiles=$(cd "$build" && ls meshplay-*.json | sed 's/meshplay-\(.*\)\.json/\1/')

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

echo "Reading one record (median of $reps):"
for p in $profiles; do
  "$build/bench/meshplay-$p-read-bench" --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep "record" | grep -v -E "_mean|_stddev|_cv"
done

echo "Frames (each run of $frames frames):"
for rep in $(seq "$reps"); do
  for p in $profiles; do
    for mode in play draw; do
      "$build/bench/meshplay-$p-frame-bench" "$mode" "$frames"
    done
  done
done | sort -s -k1,2

# The recorder on each demo, every record a frame, once into PNG files and once into MP4, timed
# from start to exit, next to the viewer's drawing alone (medians of REPS runs of each). Start-up
# (reading all records, the window, ffmpeg's own start and end) is timed apart, from runs that
# write only the first and the last record (--every 1000000): "per frame" leaves it out, as the
# draw-only figure does.
for p in $profiles; do
  records=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["T_END"] * 100 + 1)' \
    "$build/meshplay-$p.json")  # the demo's records: one a frame with --every 1
  rm -rf "$work/demo"
  "$build/meshplay-$p-demodata" "$work/demo" >/dev/null
  for rep in $(seq "$reps"); do
    "$build/bench/meshplay-$p-frame-bench" draw "$records" | awk '{print "draw", $3}'
    for out in frames/ demo.mp4; do
      for every in 1 1000000; do
        rm -rf "${work:?}/demo/$out"
        start=$(date +%s.%N)
        (cd "$work/demo" && "$build/meshplay-$p-record" "$out" --every "$every")
        echo "$out$every $(date +%s.%N) $start" | awk '{print $1, $2 - $3}'
      done
    done
  done | python3 -c '
import statistics, sys
got = {}
for line in sys.stdin:
    name, seconds = line.split()
    got.setdefault(name, []).append(float(seconds))
n, p = int(sys.argv[1]), sys.argv[2].upper()
print("Recording the %s demo, %d frames (median of %d)  whole run           per frame after start-up"
      % (p, n, len(got["draw"])))
draw = statistics.median(got["draw"])
print("%s draw-only                               %6.0f frames/s" % (p, draw))
for label, out in (("PNG", "frames/"), ("MP4", "demo.mp4")):
    whole = statistics.median(got[out + "1"])
    start = statistics.median(got[out + "1000000"])
    rate = (n - 2) / (whole - start)
    print("%s record %s, start-up %.2f s     %6.0f frames/s %.2f    %6.0f frames/s %.2f of draw-only"
          % (p, label, start, n / whole, n / whole / draw, rate, rate / draw))
' "$records" "$p"
done

REPS="$reps" python3 "$root/bench/export.py" "$build" $profiles

# The live server on the B demo, with 200 stream clients (bench/serve.py).
python3 "$root/bench/serve.py" "$build"
