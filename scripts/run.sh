#!/usr/bin/env bash
# Builds meshplay and opens the viewer on the three input files of the current folder.
# Usage: scripts/run.sh [a|b]   (profile A, the 10 x 6 grid, by default)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
profile="${1:-a}"
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build/release" -j "$(nproc)" --target "meshplay-$profile"
exec "$here/build/release/meshplay-$profile"
