#!/usr/bin/env bash
# Fuzzes Tonevolt through main and its record (tests/fuzz/tonevolt_fuzzer.cpp).
#
#   scripts/fuzz.sh [SECONDS]        default 3600; scripts/test.sh runs it for 60
#   FUZZ_KEEP=1 scripts/fuzz.sh 7200  then rebuilds tests/fuzz/corpus as the
#                                     fewest inputs that reach every edge reached
#
# Builds with the linux-x64-fuzz preset into build/fuzz (clang's ASan, UBSan
# and libFuzzer runtimes, native) and runs on a work copy of the seed corpus
# (build/fuzz/corpus), niced, on one core. A finding stops the run and
# leaves its input in build/fuzz/ (crash-*, leak-*, timeout-*); reproduce it
# with build/fuzz/tonevolt_fuzzer FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
out=build/fuzz

{ cmake --preset linux-x64-fuzz && cmake --build --preset linux-x64-fuzz; } >"$out.build.log" 2>&1 ||
  { tail -n 40 "$out.build.log" >&2; echo "fuzz: build failed (log: $out.build.log)" >&2; exit 1; }
rm -rf "$out/corpus"
mkdir -p "$out/corpus"
cp tests/fuzz/corpus/* "$out/corpus/"

# The run's exit status is the verdict: non-zero on any finding.
nice -n 10 "$out/tonevolt_fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus"

if [ "${FUZZ_KEEP:-0}" = 1 ]; then
  rm -rf "$out/merged"
  mkdir -p "$out/merged"
  # Edges only, not hit counts: keeps the corpus in the repository small.
  "$out/tonevolt_fuzzer" -merge=1 -use_counters=0 "$out/merged" tests/fuzz/corpus "$out/corpus"
  rm -f tests/fuzz/corpus/*
  cp "$out/merged"/* tests/fuzz/corpus/
  echo "fuzz: tests/fuzz/corpus now holds $(ls tests/fuzz/corpus | wc -l) inputs"
fi
