#!/usr/bin/env bash
# Prepares a Debian 12 machine to build and test Zandrel: installs every Debian
# package the build, the tests, the fuzzers and the app need, once. When all of
# them are present already, apt is not touched.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libtinyxml2-dev
  qt6-base-dev fonts-dejavu-core xvfb xauth poppler-utils
  librtaudio-dev librtmidi-dev jackd2 libjack-jackd2-dev
  librubberband-dev libsamplerate0-dev libfftw3-dev
  # Benchmark peers only: aubio (pitch and beat tracking), libsndfile (opening WAV files).
  libaubio-dev libsndfile1-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    # Nothing here can install packages: say what root has to run instead.
    echo "setup: these packages are missing: ${missing[*]}" >&2
    echo "setup: installing them needs root, and sudo is not installed. As root, run:" >&2
    echo "  echo 'jackd2 jackd/tweak_rt_limits boolean false' | debconf-set-selections" >&2
    echo "  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
    echo "setup: then run this command again." >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime scheduling; answer it up front.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
