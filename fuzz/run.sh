#!/usr/bin/env bash
# Builds the fuzz configuration (clang, build/fuzz) and runs one fuzz target for SECONDS on a copy
# of its corpus (fuzz/README.md), printing libFuzzer's coverage and execution counts. Exits non-zero
# if the target crashed, hung or ran out of memory.
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]     e.g. fuzz/run.sh meshplay-a-fuzz 60
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2; exit 2; }
target=$1 seconds=$2
shift 2
root=$(pwd) build=$(pwd)/build/fuzz
[ -d "$root/fuzz/corpus/$target" ] || { echo "no corpus for $target in fuzz/corpus/" >&2; exit 2; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DMESHPLAY_FUZZ=ON -DMESHPLAY_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target "$target" -j "${FUZZ_JOBS:-$(nproc)}"

# New inputs accumulate in build/fuzz/run/TARGET/corpus from run to run; crashes go to artifacts/.
work=$build/run/$target
mkdir -p "$work/corpus" "$work/artifacts"
cp -n "$root/fuzz/corpus/$target"/* "$work/corpus/" 2>/dev/null || true
# -timeout: a single input never takes a second; ten of them is a hang. -max_len leaves room for a
# complete profile-B grid with a few records.
"$build/fuzz/$target" "$work/corpus" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -dict="$root/fuzz/viewer.dict" -artifact_prefix="$work/artifacts/" \
  -print_final_stats=1 "$@"
