#!/usr/bin/env bash
# Builds everything and runs every test: Linux i386, and Win32 under Wine.
# Before the main suite come the reliability stages, each quiet unless it
# fails (logs in build/): the whole suite again built with ASan and UBSan,
# valgrind memcheck of the Linux test executable, and a one-minute fuzz run.
# The last lines are the main suite's ctest summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh  # every group: the build configures tests and benchmarks
scripts/build.sh

# stage NAME LOG COMMAND...: runs COMMAND into LOG; on failure shows its end.
stage() {
  local name=$1 log=$2
  shift 2
  echo "test: $name" >&2
  if ! "$@" >"$log" 2>&1; then
    tail -n 80 "$log" >&2
    echo "test: $name failed (full log: $log)" >&2
    exit 1
  fi
}

sanitized_suite() {
  cmake --preset linux-x86-asan &&
    cmake --build --preset linux-x86-asan &&
    ctest --preset linux-x86-asan
}
stage "linux-x86-asan: whole suite with ASan and UBSan" build/linux-x86-asan.log sanitized_suite

# Left out under valgrind: the death tests (their children abort on purpose)
# and the checks of 1 V/oct bits under truncation, because valgrind's CPU
# emulation rounds SSE arithmetic to nearest whatever MXCSR selects. Both
# run natively and in the sanitizer build.
memcheck_filter='-HostObligationsTest.*:*RoundsTowardZero*:*LookupReadsAndInterpolatesTheTable*'
stage "valgrind memcheck of tonevolt_tests" build/memcheck.log \
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible \
  --show-leak-kinds=definite,indirect,possible \
  build/linux-x86/tests/tonevolt_tests --gtest_filter="$memcheck_filter"

stage "fuzz: 60 s from the seed corpus" build/fuzz.log scripts/fuzz.sh 60

ctest --preset linux-x86
