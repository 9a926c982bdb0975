#!/usr/bin/env bash
# Runs a command beside a private JACK server, so that tests can open real
# JACK MIDI and audio ports on a machine without a sound card or a display:
#
#   bash scripts/jack.sh <command> [arguments...]
#
# The server uses the dummy back end without realtime scheduling. It runs
# synchronously with a 10 s client timeout: on a busy
# machine a client whose process callback comes late is waited for, where an
# asynchronous server runs the cycle without it and the MIDI events of that
# cycle are lost (uploads then failed under a load of 30 and more). It has a
# name of its own, exported to the command as JACK_DEFAULT_SERVER, so it never
# meets a user's server or another run's. It is stopped when the command ends,
# and the command's exit status is returned. Clients are told never to start a
# server themselves (JACK_NO_START_SERVER). When jackd is missing or does not
# answer, a warning is printed and the command runs anyway: the tests that
# need the server then skip, saying so.
#   ZANDREL_JACK_RATE    sample rate of the dummy back end (default 48000)
#   ZANDREL_JACK_PERIOD  frames per period (default 256)
set -uo pipefail

rate=${ZANDREL_JACK_RATE:-48000}
period=${ZANDREL_JACK_PERIOD:-256}
name="zandrel-$$-$RANDOM"
export JACK_NO_START_SERVER=1

if [ $# -eq 0 ]; then
  echo "usage: $0 <command> [arguments...]" >&2
  exit 2
fi

# The JACK servers of one machine are not independent (they share a registry
# of shared memory, for one): when two test runs on a machine start and stop
# servers at the same time, the clients of one now and then cannot reach
# their own server ("the JACK server is not running", "no input device"), a
# failure of neither run's code. Runs sharing a machine take turns here; a
# run that waits longer than 20 minutes for the other goes on, saying so.
exec 9>/tmp/zandrel-jack.lock
if ! flock -w 1200 9; then
  echo "jack.sh: another run has used JACK for 20 minutes; going on beside it" >&2
fi

server_pid=""
log=$(mktemp "${TMPDIR:-/tmp}/zandrel-jackd.XXXXXX")

stop_server() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  # Semaphores and sockets the server and its clients leave in /dev/shm.
  rm -f /dev/shm/jack_sem.*_"$name"_* /dev/shm/jack_"$name"_* 2>/dev/null
  rm -f "$log"
}
trap stop_server EXIT
trap 'exit 130' INT TERM

if ! command -v jackd >/dev/null 2>&1; then
  echo "jack.sh: jackd is not installed; running without a JACK server" >&2
else
  jackd --no-realtime --sync --timeout 10000 --name "$name" -d dummy -r "$rate" -p "$period" >"$log" 2>&1 9>&- &
  server_pid=$!
  if JACK_DEFAULT_SERVER="$name" timeout 20 jack_wait --wait --timeout 15 >/dev/null 2>&1; then
    export JACK_DEFAULT_SERVER="$name"
  else
    echo "jack.sh: the JACK server did not start; running without it. Its output:" >&2
    sed 's/^/  jackd: /' "$log" >&2
  fi
fi

# The lock stays with this script alone: a server or client left running
# after it ends must not keep the next run waiting.
"$@" 9>&-
