#!/usr/bin/env bash
# Builds everything and runs every test. First the suites, each a ctest
# preset: native x86-64 (the module, the tool, the analysis, the core), Linux
# i386 (the 32-bit module's suite, the Win32 build's under Wine, the builds
# compared with each other and the native tool with the i386 one), and the
# LV2 bundle (its checks, a test host on liblilv and a live jalv and JACK
# session). Then the reliability stages, each quiet unless it fails (logs in
# build/): the native suites built with ASan and UBSan, valgrind memcheck of
# the native module suite, a one-minute fuzz run, and, where the kernel runs
# i386 code itself, the i386 module suite with ASan and UBSan and under
# memcheck.
#
# i386 programs run natively where the kernel allows and through qemu-i386
# elsewhere (scripts/i386.sh); TONEVOLT_I386=emulated takes the emulated path
# anywhere. Each stage prints its time. The last line sums it all up:
# "N passed, N failed" (", N skipped" when something could not run here,
# each named with its reason above it).
set -uo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
scripts/deps.sh || exit 1  # every group: the builds configure tests and benchmarks
i386_run=$(scripts/i386.sh probe)
echo "test: i386 programs run $i386_run here" >&2
timed() {
  local name=$1 begin=$SECONDS
  shift
  "$@"
  local status=$?
  echo "  $name: $((SECONDS - begin)) s" >&2
  return $status
}
timed build scripts/build.sh || exit 1

passed=0
failed=0
skipped=0
skip_notes=()
finish() {
  echo "test: all stages: $((SECONDS - start)) s" >&2
  local note
  for note in "${skip_notes[@]}"; do echo "skipped: $note"; done
  if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
  else
    echo "$passed passed, $failed failed"
  fi
  [ "$failed" -eq 0 ]
  exit
}
skip() {
  skipped=$((skipped + 1))
  skip_notes+=("$1")
}

# The reasons ctest's skipped tests gave, from the tree's full test log.
skip_reasons() {
  local tree=$1 name
  shift
  for name in "$@"; do
    local reason
    reason=$(awk -v name="$name" '
      $0 ~ "Testing: " name "$" { inside = 1; next }
      inside && /^<end of output>/ { exit }
      inside && /[Ss]kipped/ { getline next_line; sub(/^.*[Ss]kipped:? */, ""); print ($0 != "" ? $0 : next_line); exit }
    ' "$tree/Testing/Temporary/LastTest.log" 2>/dev/null)
    skip "$name: ${reason:-see $tree/Testing/Temporary/LastTest.log}"
  done
}

# suite PRESET: runs a ctest preset and adds its counts from ctest's summary.
suite() {
  local preset=$1 log=build/ctest-$1.log begin=$SECONDS
  echo "test: ctest --preset $preset" >&2
  ctest --preset "$preset" >"$log" 2>&1
  local status=$? summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    tail -n 40 "$log" >&2
    failed=$((failed + 1))
    return
  fi
  local failures total skips=()
  failures=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+)/\1/' <<<"$summary")
  total=$(sed -E 's/.* out of ([0-9]+)/\1/' <<<"$summary")
  mapfile -t skips < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
  echo "  $summary, ${#skips[@]} of them skipped ($((SECONDS - begin)) s)" >&2
  passed=$((passed + total - failures - ${#skips[@]}))
  failed=$((failed + failures))
  [ ${#skips[@]} -eq 0 ] || skip_reasons "build/$preset" "${skips[@]}"
  # A test that passed but had to leave cases out says so on such a line.
  local part
  while IFS= read -r part; do
    skip "$part"
  done < <(sed -n 's/^partly skipped: //p' "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u)
  if [ "$status" -ne 0 ]; then
    sed -n '/The following tests FAILED/,$p' "$log" >&2
  fi
}

# stage NAME LOG COMMAND...: runs COMMAND into LOG, counted as one test; on
# failure shows the log's end.
stage() {
  local name=$1 log=$2 begin=$SECONDS
  shift 2
  echo "test: $name" >&2
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "  passed ($((SECONDS - begin)) s)" >&2
  else
    tail -n 80 "$log" >&2
    echo "test: $name failed after $((SECONDS - begin)) s (full log: $log)" >&2
    failed=$((failed + 1))
  fi
}

suite linux-x64
suite linux-x86
suite lv2
[ "$failed" -eq 0 ] || finish

sanitized_suite() {
  local preset=$1
  cmake --preset "$preset" && cmake --build --preset "$preset" && ctest --preset "$preset"
}
stage "linux-x64-asan: the native suites with ASan and UBSan" build/linux-x64-asan.log \
  sanitized_suite linux-x64-asan

# Left out under valgrind: the death tests (their children abort on purpose)
# and the checks of 1 V/oct bits under truncation, because valgrind's CPU
# emulation rounds SSE arithmetic to nearest whatever MXCSR selects. Both
# run natively and in the sanitizer builds.
memcheck_filter='-HostObligationsTest.*:*RoundsTowardZero*:*LookupReadsAndInterpolatesTheTable*'
memcheck_filter+=':*CoreScenarios*'
memcheck() {
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect,possible \
    --show-leak-kinds=definite,indirect,possible \
    "$1" --gtest_filter="$memcheck_filter"
}
stage "valgrind memcheck of the native tonevolt_tests" build/memcheck-x64.log \
  memcheck build/linux-x64/tests/module/tonevolt_tests

stage "fuzz: 60 s from the seed corpus" build/fuzz.log scripts/fuzz.sh 60

# Sanitizers and valgrind do not run inside qemu-i386.
if [ "$i386_run" = native ]; then
  stage "linux-x86-asan: the i386 module suite with ASan and UBSan" build/linux-x86-asan.log \
    sanitized_suite linux-x86-asan
  stage "valgrind memcheck of the i386 tonevolt_tests" build/memcheck-x86.log \
    memcheck build/linux-x86/tests/module/tonevolt_tests
else
  why="i386 programs run under qemu-i386 here, which runs neither the sanitizers nor valgrind"
  skip "linux-x86-asan (the i386 module suite with ASan and UBSan): $why"
  skip "valgrind memcheck of the i386 tonevolt_tests: $why"
fi

finish
