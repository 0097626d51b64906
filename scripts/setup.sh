#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs (only those missing), then configures and builds.
# Usage: scripts/setup.sh [build-dir]   (default: build, Release)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"

packages=(build-essential cmake pkg-config libann-dev libcgal-dev libeigen3-dev freeglut3-dev libglu1-mesa-dev
          libimgui-dev libstb-dev libx11-dev googletest libgtest-dev xvfb xauth xdotool imagemagick
          x11-utils bsdutils pybind11-dev python3-dev python3-numpy python3-pytest)
"$here/scripts/install-packages.sh" "${packages[@]}"

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"
