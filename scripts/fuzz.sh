#!/bin/sh
# Builds the fuzzers with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz, then runs each from its committed corpus for FUZZ_SECONDS
# (default 60). Fails when a fuzzer finds a crash or a model mismatch; the input
# that did it is kept in build-fuzz/findings/<fuzzer>/. Prints the executions of
# each fuzzer.
#
#   sh scripts/fuzz.sh                  # every fuzzer, 60 s each
#   FUZZ_SECONDS=10 sh scripts/fuzz.sh SyxRoundTripFuzzer
set -eu
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
build=build-fuzz
jobs="$(nproc)"
[ "$jobs" -gt 2 ] && jobs=2

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTANDREL_FUZZ=ON -DTANDREL_SANITIZE=ON -DTANDREL_WERROR=ON -DTANDREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target fuzzers

if [ "$#" -gt 0 ]; then
  fuzzers="$*"
else
  fuzzers=""
  for source in fuzz/*Fuzzer.cpp; do
    fuzzers="$fuzzers $(basename "$source" .cpp)"
  done
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=""
summary=""
for fuzzer in $fuzzers; do
  corpus="fuzz/corpus/$fuzzer"
  work="$build/work/$fuzzer"
  findings="$build/findings/$fuzzer"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  echo "== $fuzzer: $seconds s from $corpus"
  # New inputs go to the scratch folder first in the list; the committed corpus
  # is only read.
  if "$build/fuzz/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
      -rss_limit_mb=4096 -artifact_prefix="$findings/" "$work" "$corpus" >"$build/$fuzzer.log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed="$failed $fuzzer"
    tail -n 60 "$build/$fuzzer.log"
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$fuzzer.log" | tail -n 1)"
  summary="$summary$(printf '%-22s %12s executions  %s' "$fuzzer" "${runs:-?}" "$result")
"
done

echo "== Fuzzer executions ($seconds s each)"
printf '%s' "$summary"
if [ -n "$failed" ]; then
  echo "Failed:$failed (inputs in $build/findings/)" >&2
  exit 1
fi
