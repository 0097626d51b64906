#!/usr/bin/env bash
# Benchmarks Kestrel against Open3D on the example scans and writes docs/benchmarks.md, then
# measures low overlap, no overlap and the verdict (bench/low_overlap.py) into
# docs/benchmarks-low-overlap.md, large scans against Open3D (bench/large_scans.py) into
# docs/benchmarks-large.md, and the assembly of many scans against Open3D's multiway
# registration (bench/assembly_bench.py) into docs/benchmarks-assembly.md.
# Installs its own Debian packages when missing (Open3D, numpy, matplotlib: the benchmark's
# alone, never the programs' or the tests'), builds Kestrel, then runs bench/benchmark.py.
# Usage: bench/run-benchmark.sh [--quick] [--build DIR] [options]   (--help lists them)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

build="$here/build"
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --build) build="${args[i + 1]:-$build}" ;;
    --build=*) build="${args[i]#--build=}" ;;
  esac
done

packages=(python3-open3d python3-numpy python3-matplotlib)
"$here/scripts/install-packages.sh" "${packages[@]}"

"$here/scripts/setup.sh" "$build"

# The packages above belong to Debian's own interpreter, whatever python3 the PATH finds first.
KESTREL_BENCH_COMMAND="bench/run-benchmark.sh${*:+ $(printf '%q ' "$@")}"
export KESTREL_BENCH_COMMAND="${KESTREL_BENCH_COMMAND% }"
/usr/bin/python3 "$here/bench/benchmark.py" --build "$build" "$@"

quick=()
for a in "$@"; do [ "$a" = "--quick" ] && quick=(--quick); done
low="$build/lowov"
/usr/bin/python3 "$here/bench/low_overlap.py" --build "$build" --out "$low" "${quick[@]}"
if [ ${#quick[@]} -eq 0 ]; then
  cp "$low/report.md" "$here/docs/benchmarks-low-overlap.md"
  echo "Low-overlap report: docs/benchmarks-low-overlap.md"
fi

# Large scans: dense simulated pairs of a million points a view, binary PLY and text, against
# Open3D as its users treat large scans (bench/large_scans.py).
large="$build/large"
if [ ${#quick[@]} -eq 0 ]; then
  /usr/bin/python3 "$here/bench/large_scans.py" --build "$build" --out "$large" --threads-check \
    --report "$here/docs/benchmarks-large.md"
  echo "Large-scan report: docs/benchmarks-large.md"
else
  /usr/bin/python3 "$here/bench/large_scans.py" --build "$build" --out "$large" --shapes bracket
fi

# Many scans into one model: kestrel-assemble against Open3D's multiway registration.
if [ ${#quick[@]} -eq 0 ]; then
  /usr/bin/python3 "$here/bench/assembly_bench.py" --build "$build" \
    --report "$here/docs/benchmarks-assembly.md"
else
  /usr/bin/python3 "$here/bench/assembly_bench.py" --build "$build" --sets bunny
fi
