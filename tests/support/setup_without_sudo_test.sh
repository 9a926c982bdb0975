#!/usr/bin/env bash
# The set-up script run by a user who is not root, on a machine without sudo
# and with packages missing: it must say what to run as root, not fail with
# "sudo: command not found".
#   bash setup_without_sudo_test.sh <path of scripts/setup.sh>
set -u
setup=${1:?path of setup.sh}
fake=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-setup-test.XXXXXX")
trap 'rm -rf "$fake"' EXIT
# Only these commands exist: a user id that is not root, a package database
# that has nothing installed, and grep.
printf '#!/bin/bash\necho 1000\n' >"$fake/id"
printf '#!/bin/bash\nexit 1\n' >"$fake/dpkg-query"
ln -s "$(command -v grep)" "$fake/grep"
chmod +x "$fake/id" "$fake/dpkg-query"

out=$(PATH="$fake" /bin/bash "$setup" 2>&1)
status=$?
echo "$out"
fail() {
  echo "FAIL: $1"
  exit 1
}
[ "$status" -ne 0 ] || fail "the script reported success without installing anything"
case "$out" in *"command not found"*) fail "the script ran a command that is not there" ;; esac
printf '%s\n' "$out" | grep -q "As root, run:" || fail "the script does not say what to run as root"
printf '%s\n' "$out" | grep -q "apt-get install .*qt6-base-dev" || fail "the install command does not name the packages"
# No "locale" command here either: the comma locale counts as missing.
printf '%s\n' "$out" | grep -q "^  localedef -i de_DE -f UTF-8 de_DE.UTF-8$" ||
  fail "the script does not say how to make the comma locale"
echo "PASS"
