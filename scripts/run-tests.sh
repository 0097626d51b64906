#!/usr/bin/env bash
# Sets up (packages, configure, build) and runs the whole test suite.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh" "$here/build"
ctest --test-dir "$here/build" --output-on-failure -j 2 "$@"
