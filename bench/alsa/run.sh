#!/bin/sh
# The ALSA rows of bench/RESULTS.md, all measured in one boot of the ALSA guest
# (tests/alsa/guest.sh): full-speed receives of a 125,000-byte and a 1,000,000-byte
# dump written by amidi to the raw device behind "VirMIDI 0-1", five runs each for
# the bare RtMidi receiver and for Tandrel's window; the same receives paced by
# amidi (`-i 1`), three runs each, for the receiver's CPU time per MB; a send at DIN
# pacing to a port on which the kernel stamps each event as it arrives
# (alsa_seq_tap --listen), against the wire model; and a known sleep, to show how
# far software emulation bends time.
#
#   sh bench/alsa/run.sh [BUILD_DIR] [RUNS] [TAP_BUILD_DIR]
#
# BUILD_DIR holds the benchmark programs and gt3sim (default: build-bench, which
# bench/run builds), TAP_BUILD_DIR the tests' alsa_seq_tap (default: BUILD_DIR; a
# bench build has no tests, and the tap only records). Prints key=value lines.
set -eu
cd "$(dirname "$0")/../.."
build="$(cd "${1:-build-bench}" && pwd)"
runs="${2:-5}"
tap="$(cd "${3:-$build}" && pwd)/tests/alsa/alsa_seq_tap"
[ -x "$tap" ] || { echo "no $tap: build the tests there" >&2; exit 1; }
share="$(mktemp -d "${TMPDIR:-/tmp}/tandrel-alsa-bench.XXXXXX")"
trap 'rm -rf "$share"' EXIT
for size in 125000 1000000; do
  "$build/tools/gt3sim/gt3sim" generate "$share/dump-$size.syx" --size "$size" --seed 11
done
sh tests/alsa/guest.sh --timeout 1500 --share "$share" -- sh bench/alsa/guest.sh "$build" "$share" "$runs" "$tap"
