#!/bin/sh
# Installs the dependencies, builds Tandrel in Release and launches it.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh runtime
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DTANDREL_BUILD_TESTS=OFF
cmake --build build-release -j"$(nproc)" --target tandrel
exec ./build-release/tandrel
