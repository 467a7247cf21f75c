#!/bin/sh
# The soak: 200 cycles of Receive, Save, Open and Send of a 125,000-byte dump
# through a private JACK server, on the real window and MIDI ports, with gt3sim
# as the GT-3. Every byte is checked in every cycle, and the resident memory after
# 20 cycles of warm-up may not grow by more than 4 MiB. A cycle that loses bytes
# while JACK reports xruns (a busy machine: JACK drops MIDI a late client misses)
# is run again, up to twice, and reported apart. Takes three to five minutes.
#   sh bench/soak.sh [--cycles N] [--bytes B] [--warmup W] [--bound-kib K]
# SOAK_BUILD_DIR picks the build tree (default build-soak, made in Release).
set -eu
cd "$(dirname "$0")/.."
build="${SOAK_BUILD_DIR:-build-soak}"
sh scripts/install-deps.sh test
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" >/dev/null
else
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target bench_soak gt3sim
TANDREL_BUILD_DIR="$PWD/$build" exec "$build/bench/soak/bench_soak" "$@"
