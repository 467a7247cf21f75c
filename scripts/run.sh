#!/bin/sh
# Installs the dependencies, builds Tandrel in Release and launches it.
# With --demo, launches it beside a simulated GT-3 (scripts/demo.sh).
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" = --demo ]; then
  shift
  sh scripts/install-deps.sh demo
  cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTANDREL_BUILD_TESTS=OFF
  cmake --build build-release -j"$(nproc)" --target tandrel tandrel-gt3sim
  exec sh scripts/demo.sh build-release "$@"
fi
sh scripts/install-deps.sh runtime
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTANDREL_BUILD_TESTS=OFF
cmake --build build-release -j"$(nproc)" --target tandrel
exec ./build-release/tandrel
