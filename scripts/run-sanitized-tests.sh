#!/usr/bin/env bash
# Builds everything with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer (in
# build-asan) and runs the whole suite, window tests included. Any report fails its test.
# Leaks inside the GL driver and the libraries it loads are suppressed by
# tests/lsan_suppressions.txt; nothing of the project's own is.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$here/build-asan"
# -O1 -g1: a third of the compile time of -O2 -g (CGAL's headers dominate), and stack traces
# keep their function names and lines.
"$here/scripts/setup.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DKESTREL_SANITIZE=ON

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan_suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j 2 "$@"
