#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the fuzz targets
# for a bounded time, then the unit tests (whose summary closes the output).
#   ZANDREL_SKIP_FUZZ=1   skip the fuzzers (quick local runs)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -G Ninja -DZANDREL_BUILD_TESTS=ON
cmake --build build

if [ "${ZANDREL_SKIP_FUZZ:-0}" != "1" ]; then
  bash scripts/fuzz.sh
fi

cd build
# Beside a private JACK server: the tests labelled "jack" open real MIDI ports.
bash ../scripts/jack.sh ctest --output-on-failure -j"$(nproc)"
