#!/usr/bin/env bash
# Builds the benchmarks in Release, starts a private Xvfb, runs the reading and frame benchmarks of
# both programs REPS times, measures the peak memory of a replay of a 1 MB and a 1 GB result file,
# and prints one table of medians (bench/report.py).
#
# Usage: bench/run.sh
# Environment: REPS (default 5), FRAMES per frame-benchmark run (2000), MEMORY profiles for the
# memory check ("a b"; empty skips it), BUILD_DIR (build/bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
reps="${REPS:-5}"
frames="${FRAMES:-2000}"
memory="${MEMORY-a b}"
bin="$build/bench"

work="$(mktemp -d /tmp/meshplay-bench-run-XXXXXX)"
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== $*" >&2; }

step "building in Release ($build)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHPLAY_WERROR=ON \
  -DMESHPLAY_TESTS=OFF >/dev/null
targets=()
for p in a b; do
  targets+=("meshplay-$p-read-bench" "meshplay-$p-frame-bench" "meshplay-$p-draw-bench")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

step "starting Xvfb"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"

for p in a b; do
  step "reading, profile $p ($reps repetitions)"
  "$bin/meshplay-$p-read-bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/read-$p.json" --benchmark_out_format=json >/dev/null
done

# Runs alternate between the programs and the two kinds, so that a disturbance from other work on
# the machine spreads over all of them instead of spoiling one.
# allocator-defaults undoes the viewer's allocator settings, to show the stalls they cure. paired
# runs the draw-only build with blocks of 50 frames that read the file in turn with blocks that do
# not: the reading's share of a frame, measured in one process so that other work on the machine
# weighs on both halves alike.
for rep in $(seq "$reps"); do
  for p in a b; do
    for kind in playback draw-only allocator-defaults paired; do
      step "frames, profile $p, $kind, run $rep of $reps"
      case "$kind" in
        playback) command=("$bin/meshplay-$p-frame-bench") ;;
        draw-only) command=("$bin/meshplay-$p-draw-bench") ;;
        allocator-defaults) command=("$bin/meshplay-$p-frame-bench" --allocator-defaults) ;;
        paired) command=("$bin/meshplay-$p-draw-bench" --alternate 50) ;;
      esac
      "${command[@]}" --frames "$frames" >>"$work/frames.txt"
    done
  done
done

# Peak memory of a replay: one pass over a 1 GB file, one pass over a 1 MB file, and the 1 MB file
# replayed over and over for as many frames as the 1 GB pass took. Mesa takes a second 1 MiB upload
# buffer after a few thousand frames, so a one-pass replay of 1 MB (a few dozen frames) is lighter
# for reasons that have nothing to do with reading; the equal-frames run separates the two.
for p in $memory; do
  big="$work/memory-$p-1GB"
  small="$work/memory-$p-1MB"
  mkdir "$big" "$small"
  step "memory, profile $p: writing result files of 1 GB and 1 MB"
  "$bin/meshplay-$p-frame-bench" --write-folder "$big" 1000000000 >/dev/null
  "$bin/meshplay-$p-frame-bench" --write-folder "$small" 1000000 >/dev/null
  step "memory, profile $p: one pass over 1 GB"
  "$bin/meshplay-$p-frame-bench" --folder "$big" --one-pass --warmup 0 |
    sed "s/^profile=/file=1GB run=one-pass profile=/" >>"$work/memory.txt"
  rm -rf "$big"
  step "memory, profile $p: one pass over 1 MB"
  "$bin/meshplay-$p-frame-bench" --folder "$small" --one-pass --warmup 0 |
    sed "s/^profile=/file=1MB run=one-pass profile=/" >>"$work/memory.txt"
  big_frames="$(grep "file=1GB" "$work/memory.txt" | grep "profile_$p" | sed 's/.* frames=\([0-9]*\).*/\1/')"
  step "memory, profile $p: 1 MB over and over for $big_frames frames"
  "$bin/meshplay-$p-frame-bench" --folder "$small" --frames "$big_frames" --warmup 0 --no-times |
    sed "s/^profile=/file=1MB run=equal-frames profile=/" >>"$work/memory.txt"
  rm -rf "$small"
done

python3 "$root/bench/report.py" "$work"
