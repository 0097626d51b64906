#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs (only those missing), then configures and builds.
# Usage: scripts/setup.sh [build-dir [cmake options...]]   (default: build, Release)
#        scripts/setup.sh --packages                       (install the packages only)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# clang and its runtime libraries build the fuzz targets (scripts/fuzz.sh).
packages=(build-essential cmake pkg-config libann-dev libcgal-dev freeglut3-dev libglu1-mesa-dev
          libimgui-dev libstb-dev libx11-dev googletest libgtest-dev xvfb xauth xdotool imagemagick
          x11-utils clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ "${1:-}" = "--packages" ] && exit 0

build="${1:-$here/build}"
[ $# -gt 0 ] && shift
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
