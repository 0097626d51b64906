#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs (only those missing), then configures and builds.
# Usage: scripts/setup.sh [build-dir [cmake options...]]   (default: build, Release)
#        scripts/setup.sh --packages                       (install the packages only)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# clang and its runtime libraries build the fuzz targets (scripts/fuzz.sh); Ceres solves the
# assembly's pose graph, and python3-distributed runs its pairs on a Dask cluster.
packages=(build-essential cmake pkg-config libann-dev libcgal-dev libeigen3-dev freeglut3-dev libglu1-mesa-dev
          libimgui-dev libstb-dev libx11-dev googletest libgtest-dev xvfb xauth xdotool imagemagick
          x11-utils bsdutils clang libclang-rt-dev pybind11-dev python3-dev python3-numpy python3-pytest
          libceres-dev python3-distributed)
"$here/scripts/install-packages.sh" "${packages[@]}"
[ "${1:-}" = "--packages" ] && exit 0

build="${1:-$here/build}"
[ $# -gt 0 ] && shift
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
