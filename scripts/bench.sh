#!/usr/bin/env bash
# Builds the benchmark of the native preset and runs it: every figure, then a
# summary of the ratios against their targets (see BENCHMARKS.md). Not part
# of the tests. Arguments go to the benchmark binary, for example
# --benchmark_filter=BM_Open. TONEVOLT_BENCH_PRESET=linux-x86 measures the
# 32-bit module instead, where the kernel runs i386 code itself (never time
# it under emulation); TONEVOLT_BENCH_BUILD_DIR picks another tree.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh  # every group: the build configures tests and benchmarks
preset=${TONEVOLT_BENCH_PRESET:-linux-x64}
build_dir=${TONEVOLT_BENCH_BUILD_DIR:-build/$preset}
mkdir -p "$build_dir"
log=$build_dir/bench-build.log
: >"$log"
echo "bench: building $build_dir (log: $log)" >&2
build_bench() {
  cmake --preset "$preset" -B "$build_dir" &&
    cmake --build "$build_dir" -j2 --target tonevolt_bench
}
run_quietly "$log" "bench: build" build_bench
# Medians of repeated runs: the machine is shared and noisy.
exec "$build_dir/tonevolt_bench" --benchmark_repetitions=9 --benchmark_min_time=0.2 \
  --benchmark_report_aggregates_only=true "$@"
