#!/usr/bin/env bash
# Runs the tests of one ctest label one by one, giving each failing test up to
# a number of tries, and prints how many tries each test needed, so a test
# that only passes on its second or third try shows up in the log:
#
#   bash scripts/ctest_retry.sh <label> <tries>     (from the build folder)
#
# Exits non-zero when a test failed every try (its last output is printed).
set -uo pipefail

label=${1:?label}
tries=${2:?tries}
mapfile -t names < <(ctest -N -L "$label" | sed -n 's/^ *Test *#[0-9]*: *//p')
if [ ${#names[@]} -eq 0 ]; then
  echo "ctest_retry: no tests labelled $label" >&2
  exit 1
fi

out=$(mktemp "${TMPDIR:-/tmp}/zandrel-retry.XXXXXX")
trap 'rm -f "$out"' EXIT
failed=()
summary=()
for name in "${names[@]}"; do
  pattern="^$(printf '%s' "$name" | sed 's/[][\.*^$+?(){}|/]/\\&/g')\$"
  attempt=1
  while :; do
    if ctest --output-on-failure -L "$label" -R "$pattern" >"$out" 2>&1; then
      summary+=("$name: passed after $attempt attempt(s)")
      break
    fi
    if [ "$attempt" -ge "$tries" ]; then
      cat "$out"
      summary+=("$name: FAILED all $attempt attempts")
      failed+=("$name")
      break
    fi
    # What failed, so that a test that passes on a later try still shows why
    # it did not the first time.
    echo "ctest_retry: $name failed attempt $attempt of $tries; the end of its output:"
    grep -v '^ *Start \|^Test project\|^ *$' "$out" | tail -n 25 | sed 's/^/  | /'
    echo "ctest_retry: trying $name again"
    attempt=$((attempt + 1))
  done
done

echo "Tests labelled $label, attempts each needed:"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "${#failed[@]} of ${#names[@]} tests labelled $label failed."
  exit 1
fi
echo "All ${#names[@]} tests labelled $label passed."
