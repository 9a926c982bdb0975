#!/usr/bin/env bash
# Builds the Google Benchmark programs in build-bench/ and runs each of them.
# Arguments are passed to every program, e.g.
#   scripts/bench.sh --benchmark_filter=ResampleSinc
# Each program ends with a table of our time beside a peer's time and their
# ratio (ours / peer): FFT, note and beat detection, the sinc converter at
# every ratio, opening a long file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target zandrel_benchmarks

programs=$(find "$build/bench" -maxdepth 1 -type f -name '*_bench' -perm -u+x | sort)
if [ -z "$programs" ]; then
  echo "bench: no benchmark programs were built" >&2
  exit 1
fi
for program in $programs; do
  echo "bench: $(basename "$program")"
  "$program" --benchmark_color=false "$@"
done
