#!/usr/bin/env bash
# Builds the fuzz configuration (clang, build/fuzz) and runs one fuzz target for a given time on a
# copy of its corpus, printing libFuzzer's coverage and execution counts.
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
#   fuzz/run.sh meshplay-a-fuzz 60
#
# TARGET is <program>-fuzz for a program of CMakeLists.txt. The corpus in fuzz/corpus/TARGET is
# copied to build/fuzz/run/TARGET/corpus, where new inputs accumulate from run to run; crashes are
# written to build/fuzz/run/TARGET/artifacts/. Exits non-zero if the target crashed, hung or ran
# out of memory. FUZZ_JOBS sets the build's parallelism (default: nproc).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

root=$(pwd)
build=$root/build/fuzz
seeds=$root/fuzz/corpus/$target
if [ ! -d "$seeds" ]; then
  echo "no corpus for $target in fuzz/corpus/" >&2
  exit 2
fi

# Configured only once: a changed CMakeLists.txt is picked up by the build itself.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DMESHPLAY_FUZZ=ON -DMESHPLAY_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target "$target" -j "${FUZZ_JOBS:-$(nproc)}"

work=$build/run/$target
mkdir -p "$work/corpus" "$work/artifacts"
cp -n "$seeds"/* "$work/corpus/" 2>/dev/null || true

# -timeout: a single input never takes a second; ten of them is a hang. -max_len leaves room for a
# complete profile-B grid with a few records.
set -x
"$build/fuzz/$target" "$work/corpus" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -dict="$root/fuzz/viewer.dict" -artifact_prefix="$work/artifacts/" \
  -print_final_stats=1 "$@"
