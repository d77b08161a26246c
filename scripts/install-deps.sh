#!/usr/bin/env bash
# Installs the Debian packages meshplay needs to build, run and test; skips what is already there.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  freeglut3-dev libgl-dev libgl1-mesa-dri libfast-float-dev
  libpng-dev libx11-dev ffmpeg  # the recorders: PNG frames, the display check, videos
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xdotool imagemagick x11-utils x11-apps python3  # x11-apps: xwd, the e2e screenshots
  python3-meshio  # the exporter's test reads its .vtu and .msh files back
  zlib1g-dev  # the web page's data, deflated
  libboost-dev  # the live server: Boost.Beast's HTTP over Boost.Asio, header only
  nodejs  # the web page's data read back by the player's own store module
  # the web page's test and bench, in each engine: Chromium by selenium and its driver,
  # Firefox ESR over WebDriver BiDi (python3-websocket), WebKitGTK by WebKitWebDriver
  chromium chromium-driver firefox-esr webkit2gtk-driver python3-selenium python3-websocket
  clang libclang-rt-14-dev llvm  # the fuzz targets: clang, its libFuzzer runtime, the symbolizer
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
