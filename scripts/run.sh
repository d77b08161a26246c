#!/usr/bin/env bash
# Builds meshplay, writes the demo data into a working folder of the build tree and opens the
# viewer there: a 10 x 6 block (meshplay-a) or, with `b`, a 30 x 12 block (meshplay-b) swaying on a
# shaken base. Press Enter in this console, then click into the window to play.
#
# Usage: scripts/run.sh [--headless] [a|b]   (or the letter of any other profile)
#   --headless  no display needed: plays one run under Xvfb with real input events and saves
#               screenshots (PNG) into the working folder, printing their paths; then records
#               the whole run as an animated GIF beside them, and writes it as a web page.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

headless=0
profile=a
for arg in "$@"; do
  case "$arg" in
    --headless) headless=1 ;;
    [a-z]) profile="$arg" ;;  # the letter of a profile: meshplay-a, meshplay-b, ...
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument '$arg'; usage: scripts/run.sh [--headless] [a|b]" >&2; exit 2 ;;
  esac
done

if ! grep -q "^meshplay_add_program(meshplay-$profile " "$here/CMakeLists.txt"; then
  echo "run.sh: there is no program meshplay-$profile (see meshplay_add_program in CMakeLists.txt)" >&2
  exit 2
fi

build="$here/build/release"
work="$build/demo-$profile"
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "meshplay-$profile" "meshplay-$profile-demodata" \
  "meshplay-$profile-record" "meshplay-$profile-html"
"$build/meshplay-$profile-demodata" "$work"

if [ "$headless" -eq 1 ]; then
  python3 "$here/scripts/headless.py" "$build/meshplay-$profile" "$work" "$work/screenshots"
  gif="$work/screenshots/meshplay-$profile.gif"
  (cd "$work" && "$build/meshplay-$profile-record" "$gif" --fps 15)
  echo "recorded $gif (model time, 15 frames per second)"
  page="$work/screenshots/meshplay-$profile.html"
  (cd "$work" && "$build/meshplay-$profile-html" "$page")
  echo "wrote $page (open it in a browser: it plays the run offline)"
  exit 0
fi

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "run.sh: no usable display (DISPLAY=${DISPLAY:-unset}); to play the demo under Xvfb and save screenshots instead, run: bash scripts/run.sh --headless $profile" >&2
  exit 1
fi
cd "$work"
exec "$build/meshplay-$profile"
