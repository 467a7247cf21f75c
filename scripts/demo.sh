#!/bin/sh
# Tandrel beside a simulated GT-3, for trying it without the unit:
#   sh scripts/demo.sh BUILD_DIR [tandrel-gt3sim options]
# Uses the ALSA sequencer or a running JACK server; where there is neither, starts
# a private JACK server on the dummy backend. Tandrel runs with a settings folder
# of its own for this run, naming the simulated ports, so the user's stored
# settings stay as they are. Closing Tandrel ends the demo and all it started.
set -eu
build=${1:?usage: demo.sh BUILD_DIR [tandrel-gt3sim options]}
shift
build=$(cd "$build" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tandrel-demo.XXXXXX")
jackd_pid="" sim_pid="" app_pid=""

stop() {
  # $1 a process of ours, if any; it gets a few seconds to go of its own accord.
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.3
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$app_pid"
  stop "$sim_pid"
  if [ -n "$jackd_pid" ]; then
    stop "$jackd_pid"
    # A server that had to be killed leaves its semaphores and shared memory behind;
    # the name is this demo's own, so whatever carries it is ours to remove.
    for f in /dev/shm/jack*; do
      case $f in *"_${JACK_DEFAULT_SERVER}_"* | *"-${JACK_DEFAULT_SERVER}"*) rm -f "$f" ;; esac
    done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

jack_up() { jack_lsp >/dev/null 2>&1; }

if [ "${TANDREL_MIDI_API:-}" != jack ] && [ -r /dev/snd/seq ] && [ -w /dev/snd/seq ]; then
  echo "demo: MIDI through the ALSA sequencer"
elif [ "${TANDREL_MIDI_API:-}" != alsa ] && command -v jack_lsp >/dev/null && jack_up; then
  echo "demo: MIDI through the running JACK server"
  export TANDREL_MIDI_API=jack
else
  command -v jackd >/dev/null || { echo "demo: no MIDI system, and jackd is not installed (package jackd2)" >&2; exit 1; }
  export JACK_DEFAULT_SERVER=tandrel-demo TANDREL_MIDI_API=jack
  echo "demo: no MIDI system here; starting a private JACK server \"$JACK_DEFAULT_SERVER\" (dummy backend)"
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  tries=0
  until jack_up; do
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ] || ! kill -0 "$jackd_pid" 2>/dev/null; then
      echo "demo: the JACK server did not start:" >&2
      cat "$work/jackd.log" >&2
      exit 1
    fi
    sleep 0.2
  done
fi

settings="$work/config/Tandrel/Tandrel.conf"
"$build/tools/gt3sim-panel/tandrel-gt3sim" --settings "$settings" --folder "${HOME:-$PWD}" "$@" &
sim_pid=$!
until [ -s "$settings" ]; do
  kill -0 "$sim_pid" 2>/dev/null || { sim_pid=""; echo "demo: the simulated GT-3 did not start" >&2; exit 1; }
  sleep 0.1
done

echo "demo: Tandrel's devices are the simulated GT-3's ports; close Tandrel to end the demo"
# In the background, so that a signal to this script ends the demo at once.
XDG_CONFIG_HOME="$work/config" "$build/tandrel" &
app_pid=$!
wait "$app_pid" || true
app_pid=""
