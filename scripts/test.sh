#!/bin/sh
# Builds Tandrel with warnings as errors and runs the whole test suite, then
# builds it again with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the suite once more, then runs each fuzzer for a bounded time.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh test
jobs="$(nproc)"

echo "== Build and test"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DTANDREL_WERROR=ON
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== Debian package"
# CI runs on a throwaway root machine: the package is installed for real there.
# Elsewhere it is unpacked into a temporary root instead.
if [ "$(id -u)" -eq 0 ] && [ -n "${CI:-}" ]; then
  sh scripts/package.sh build-test --install
else
  sh scripts/package.sh build-test --check
fi

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTANDREL_WERROR=ON -DTANDREL_SANITIZE=ON
cmake --build build-asan -j"$jobs"
# LeakSanitizer stays on: the suite leaks nothing, Qt and fontconfig included.
echo "(the ALSA guest tests, label alsa, ran in the build above: each boots a QEMU guest"
echo " under software emulation, and once keeps the suite within its time)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE alsa

if [ -x scripts/fuzz.sh ]; then
  echo "== Fuzzers"
  sh scripts/fuzz.sh
fi
