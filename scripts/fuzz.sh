#!/usr/bin/env bash
# Builds the libFuzzer target with clang (build/fuzz) and runs it for a bounded time on a
# copy of the seed corpus, on one core. Prints libFuzzer's executions per second and
# total, and exits non-zero on a crash, a sanitizer report or a broken invariant (the
# input that did it is left in build/fuzz/artifacts/).
#
#   scripts/fuzz.sh [SECONDS]     (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not installed (scripts/setup-deps.sh fuzz)"
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMETRA_FUZZ=ON -DLUMETRA_BENCH=OFF >/dev/null
cmake --build "$build" --target driver_fuzz -j2

corpus=$build/corpus
mkdir -p "$corpus" "$build/artifacts"
cp -n fuzz/corpus/* "$corpus/"
log=$build/fuzz.log
echo "fuzzing for $seconds s (log: $log)"
set +e
# Quick inputs get more of the time (entropic_scale_per_exec_time): a scan set-up with its
# two shading passes costs tens of milliseconds, a refused request or a lamp switch far less.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/fuzz/driver_fuzz" "$corpus" -max_total_time="$seconds" -max_len=4096 -timeout=60 \
  -entropic_scale_per_exec_time=1 \
  -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/" >"$log" 2>&1
rc=$?
set -e
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
if [[ $rc -ne 0 ]]; then
  grep -E 'invariant broken|ERROR: |SUMMARY: |runtime error|first violation|Test unit written' "$log" | head -20
  echo "fuzzing failed (exit $rc); see $log"
  exit 1
fi
echo "fuzzing: no crash, no sanitizer report, no broken invariant"
