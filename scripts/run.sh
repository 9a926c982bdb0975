#!/usr/bin/env bash
# Sets up the machine, builds Zandrel and starts the editor.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja
# The editor alone: the tests are built by scripts/test.sh.
cmake --build build --target zandrel

if [ -x build/src/app/zandrel ]; then
  exec build/src/app/zandrel "$@"
fi
echo "Zandrel: the core libraries are built; the editor window is not part of this build yet."
