#!/usr/bin/env bash
# Builds the fuzz targets of the two file readers (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60; 0 runs until Ctrl-C).
# New inputs go to build-fuzz/corpus/<target>, so a later run goes on from there; an input that
# breaks a reader is saved in build-fuzz/artifacts/ and the script fails.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   targets: point_file_fuzz transform_file_fuzz
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KESTREL_FUZZ_BUILD:-$here/build-fuzz}"
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(point_file_fuzz transform_file_fuzz)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKESTREL_BUILD_FUZZERS=ON -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_GUI=OFF "${launcher[@]}" \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$corpus"
  echo "== $target: ${seconds} s (log: $log)"
  status=0
  # On a terminal the fuzzer's progress shows as it goes; otherwise only its summary.
  if [ -t 2 ]; then
    "$build/fuzz/$target" "$corpus" "$here/fuzz/corpus/${target%_fuzz}" \
      -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" 2>&1 | tee "$log" || status=$?
  else
    "$build/fuzz/$target" "$corpus" "$here/fuzz/corpus/${target%_fuzz}" \
      -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1 || status=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  fi
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$target failed (status $status); the input is in $build/artifacts/"
    exit 1
  fi
done
