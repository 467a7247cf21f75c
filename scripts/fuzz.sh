#!/bin/sh
# Builds the fuzzers with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz, then runs each from its committed corpus for FUZZ_SECONDS
# (default 60), as many at once as there are cores (at most two). Fails when a
# fuzzer finds a crash, a leak or a model mismatch; the input that did it is kept
# in build-fuzz/findings/<fuzzer>/. Prints the executions of each fuzzer.
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
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/fuzz/lsan.supp}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# One fuzzer: new inputs go to a scratch folder listed first; the committed corpus
# is only read. The result lands in <log>.result.
fuzz_one() {
  fuzzer=$1
  work="$build/work/$fuzzer"
  findings="$build/findings/$fuzzer"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  if "$build/fuzz/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
      -rss_limit_mb=4096 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$fuzzer" >"$build/$fuzzer.log" 2>&1; then
    echo ok >"$build/$fuzzer.result"
  else
    echo FAILED >"$build/$fuzzer.result"
  fi
}

echo "== Fuzzing for $seconds s each, $jobs at a time:$fuzzers"
running=0
for fuzzer in $fuzzers; do
  fuzz_one "$fuzzer" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait
    running=0
  fi
done
wait

failed=""
echo "== Fuzzer executions ($seconds s each)"
for fuzzer in $fuzzers; do
  result="$(cat "$build/$fuzzer.result" 2>/dev/null || echo FAILED)"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$fuzzer.log" | tail -n 1)"
  printf '%-22s %12s executions  %s\n' "$fuzzer" "${runs:-?}" "$result"
  if [ "$result" != ok ]; then
    failed="$failed $fuzzer"
    tail -n 60 "$build/$fuzzer.log"
  fi
done
if [ -n "$failed" ]; then
  echo "Failed:$failed (inputs in $build/findings/)" >&2
  exit 1
fi
