#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them from a generated seed
# corpus, as many at a time as this process may use cores, within a fixed
# budget of wall time shared out between them. A crash, a leak or a sanitizer
# report fails the run.
#   ZANDREL_FUZZ_BUDGET   wall seconds for all targets together (default 120)
#   ZANDREL_FUZZ_SECONDS  seconds per target instead of a share of the budget
#   ZANDREL_FUZZ_BUILD    build folder (default build-fuzz)
# A target's own options (a longer -max_len, a -dict=...) are read from
# fuzz/<target>.options: one option per line, '#' starts a comment line, and
# paths are relative to the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."

budget=${ZANDREL_FUZZ_BUDGET:-120}
build=${ZANDREL_FUZZ_BUILD:-build-fuzz}
# The cores this process may use (a CI runner's taskset or cgroup included).
cores=$(nproc)

# Every target makes its scratch folder in here; it goes when this script
# ends, however the targets ended (a crashing target skips its own clean-up).
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$shm/zandrel-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export ZANDREL_FUZZ_SCRATCH="$scratch"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_UI=OFF -DZANDREL_BUILD_FUZZERS=ON \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -DZANDREL_MAX_ZERO_FILL=4096" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target zandrel_fuzzers

corpus="$build/corpus"
rm -rf "$corpus"
"$build/fuzz/make_fuzz_seeds" "$corpus"

targets=$(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
count=$(echo "$targets" | wc -w)
# Each target gets the same share of the budget: targets run in waves of one
# per core, so a 2-core machine gives each a whole core for a shorter time
# rather than a tenth of one for longer.
waves=$(((count + cores - 1) / cores))
seconds=${ZANDREL_FUZZ_SECONDS:-$((budget / waves))}
[ "$seconds" -ge 10 ] || seconds=10
echo "fuzz: $count targets, $cores at a time, ${seconds}s each"

failed=0
pids=()
names=()
# Waits for the running wave and reports each target.
finish_wave() {
  for i in "${!pids[@]}"; do
    if wait "${pids[$i]}"; then
      echo "fuzz: ${names[$i]} ok ($(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$build/${names[$i]}.log" | grep -o '[0-9]*$' || true) runs," \
        "$(grep -m1 -o 'average_exec_per_sec: *[0-9]*' "$build/${names[$i]}.log" | grep -o '[0-9]*$' || true) per second)"
    else
      echo "fuzz: ${names[$i]} FAILED; last lines of its log:"
      tail -n 60 "$build/${names[$i]}.log"
      failed=1
    fi
  done
  pids=()
  names=()
}

for target in $targets; do
  [ "${#pids[@]}" -lt "$cores" ] || finish_wave
  name=$(basename "$target")
  mkdir -p "$corpus/$name" "$build/artifacts/$name"
  options=()
  if [ -f "fuzz/$name.options" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      case "$line" in '' | '#'*) continue ;; esac
      options+=("$line")
    done <"fuzz/$name.options"
  fi
  echo "fuzz: running $name for ${seconds}s ${options[*]}"
  # An input gets a minute: on a busy machine a slow input is not a hang.
  "$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 "${options[@]}" \
    -artifact_prefix="$build/artifacts/$name/" "$corpus/$name" >"$build/$name.log" 2>&1 &
  pids+=($!)
  names+=("$name")
done

finish_wave
exit $failed
