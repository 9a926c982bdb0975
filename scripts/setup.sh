#!/usr/bin/env bash
# Prepares a Debian 12 machine to build and test Zandrel: installs every Debian
# package the build, the tests, the fuzzers and the app need, once, and the
# comma-decimal locale de_DE.UTF-8 the tests run under a second time. When all
# of them are present already, apt and localedef are not touched.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libtinyxml2-dev
  qt6-base-dev fonts-dejavu-core xvfb xauth poppler-utils
  librtaudio-dev librtmidi-dev jackd2 libjack-jackd2-dev
  librubberband-dev libsamplerate0-dev libfftw3-dev
  # The definitions localedef builds the comma locale from.
  locales
  # Benchmark peers only: aubio (pitch and beat tracking), libsndfile (opening WAV files).
  libaubio-dev libsndfile1-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The locale the test suite runs under a second time: its numbers have a
# decimal comma. "locale -a" lists it as de_DE.utf8.
COMMA_LOCALE=de_DE.UTF-8
need_locale=1
if command -v locale >/dev/null 2>&1 && locale -a 2>/dev/null | grep -i -x 'de_DE\.utf-\?8' >/dev/null; then
  need_locale=0
fi
make_locale="localedef -i de_DE -f UTF-8 $COMMA_LOCALE"

if [ ${#missing[@]} -eq 0 ] && [ "$need_locale" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    # Nothing here can install packages: say what root has to run instead.
    if [ ${#missing[@]} -gt 0 ]; then
      echo "setup: these packages are missing: ${missing[*]}" >&2
    fi
    if [ "$need_locale" -eq 1 ]; then
      echo "setup: the locale $COMMA_LOCALE is missing" >&2
    fi
    echo "setup: installing them needs root, and sudo is not installed. As root, run:" >&2
    if [ ${#missing[@]} -gt 0 ]; then
      echo "  echo 'jackd2 jackd/tweak_rt_limits boolean false' | debconf-set-selections" >&2
      echo "  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}" >&2
    fi
    if [ "$need_locale" -eq 1 ]; then
      echo "  $make_locale" >&2
    fi
    echo "setup: then run this command again." >&2
    exit 1
  fi
  SUDO="sudo"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # jackd2 asks whether to enable realtime scheduling; answer it up front.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [ "$need_locale" -eq 1 ]; then
  echo "setup: making the locale $COMMA_LOCALE"
  $SUDO $make_locale
fi
