#!/usr/bin/env bash
# Builds the benchmarks optimised in their own build folder and runs both, three times each,
# printing mean, median and spread (single runs on this shared machine vary by 10-15 %).
# About 40 s in all once built.
# Usage: bench/run.sh [build folder, default build/bench] [more Google Benchmark flags]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build/bench}
shift || true

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMETRA_BENCH=ON >/dev/null
ninja -C "$build_dir" -j2 assembly_bench page_bench

flags=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_counters_tabular=true)
"$build_dir/bench/assembly_bench" --benchmark_min_time=0.2 "${flags[@]}" "$@"
"$build_dir/bench/page_bench" --benchmark_min_time=0.5 "${flags[@]}" "$@"
