#!/usr/bin/env bash
# Remakes the pictures in docs/ from the real programs: plays the demo of each profile under Xvfb
# (scripts/run.sh --headless) and keeps one frame from the middle of each run, where the block
# leans furthest: meshplay-a at t = 1.84 s (to the right), meshplay-b at t = 2.21 s (to the left);
# and meshplay-a's whole run as recorded by meshplay-a-record.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"

keep() {  # profile, time
  bash "$here/scripts/run.sh" --headless "$1"
  cp "$here/build/release/demo-$1/screenshots/meshplay-$1-t$2.png" "$here/docs/meshplay-$1.png"
  echo "docs/meshplay-$1.png: meshplay-$1 at t = $2 s"
}

mkdir -p "$here/docs"
keep a 1.84
cp "$here/build/release/demo-a/screenshots/meshplay-a.gif" "$here/docs/meshplay-a.gif"
echo "docs/meshplay-a.gif: meshplay-a's demo recorded"
keep b 2.21
# The web page of the B demo, as headless Chromium shows it: the colour on, the top-right node's
# history plotted.
/usr/bin/python3 "$here/scripts/page_shot.py" "$here/build/release/demo-b/screenshots/meshplay-b.html" \
  "$here/docs/meshplay-b-html.png" 221 263 100
convert "$here/docs/meshplay-b-html.png" -crop 660x700+0+0 +repage "$here/docs/meshplay-b-html.png"
