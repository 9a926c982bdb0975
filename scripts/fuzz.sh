#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from
# a generated seed corpus. A crash, a leak or a sanitizer report fails the run.
#   ZANDREL_FUZZ_SECONDS  seconds per target (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${ZANDREL_FUZZ_SECONDS:-60}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_UI=OFF -DZANDREL_BUILD_FUZZERS=ON \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -DZANDREL_MAX_ZERO_FILL=65536" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build"

corpus="$build/corpus"
rm -rf "$corpus"
"$build/fuzz/make_fuzz_seeds" "$corpus"

targets=$(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
pids=()
names=()
for target in $targets; do
  name=$(basename "$target")
  mkdir -p "$corpus/$name" "$build/artifacts/$name"
  echo "fuzz: running $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=0 \
    -artifact_prefix="$build/artifacts/$name/" "$corpus/$name" >"$build/$name.log" 2>&1 &
  pids+=($!)
  names+=("$name")
done

failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz: ${names[$i]} ok ($(grep -c '^#' "$build/${names[$i]}.log" || true) status lines)"
  else
    echo "fuzz: ${names[$i]} FAILED; last lines of its log:"
    tail -n 60 "$build/${names[$i]}.log"
    failed=1
  fi
done
exit $failed
