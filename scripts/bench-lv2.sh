#!/usr/bin/env bash
# The LV2 plug-in's run() (x86-64, build/lv2) against the 32-bit module's
# process entry (i386, build/linux-x86): cost per sample in each mode, in
# 1024-sample blocks of the same signal at the same settings, then the ratio;
# and the tracker plug-in's run() against the plain one's, both measured by
# the same LV2 program.
# The two Google Benchmark programs take turns, three rounds each, and each
# figure is the median of their medians, so that the load of a shared
# machine falls on both alike. Not part of the tests; arguments go to both
# programs (for example --benchmark_min_time=0.5).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh
mkdir -p build
log=build/bench-lv2-build.log
: >"$log"
echo "bench-lv2: building build/linux-x86 and build/lv2 (log: $log)" >&2
build_benches() {
  cmake --preset linux-x86 && cmake --build --preset linux-x86 --target tonevolt_module_bench &&
    cmake --preset lv2 && cmake --build --preset lv2 --target tonevolt_lv2_bench
}
run_quietly "$log" "bench-lv2: build" build_benches

results=build/bench-lv2.csv
: >"$results"
for round in 1 2 3; do
  for side in module lv2; do
    echo "bench-lv2: round $round, $side" >&2
    "build/$([[ $side == module ]] && echo linux-x86 || echo lv2)/tonevolt_${side}_bench" \
      --benchmark_repetitions=5 --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
      --benchmark_format=csv "$@" 2>/dev/null |
      awk -F, -v side="$side" '$1 ~ /_median"?$/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); print side "," $1 "," $4 }' \
        >>"$results"
  done
done

# Medians over the rounds; one iteration is one 1024-sample block.
awk -F, '
  { times[$1 "," $2] = times[$1 "," $2] " " $3; names[$2] = 1 }
  # "2 poles, 1 V/oct" for BM_RunPerBlock/poles:2/oct:1.
  function mode(name) {
    return (name ~ /poles:2/ ? "2 poles" : "1 pole") ", " (name ~ /oct:1/ ? "1 V/oct" : "1 V/kHz")
  }
  function median(list,    values, n, i, j, t) {
    n = split(list, values, " ")
    for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j)
      if (values[j] + 0 < values[i] + 0) { t = values[i]; values[i] = values[j]; values[j] = t }
    return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
  }
  END {
    printf "%-18s %18s %15s %11s\n", "mode", "module ns/sample", "LV2 ns/sample", "LV2/module"
    split("BM_RunPerBlock/poles:1/oct:0 BM_RunPerBlock/poles:1/oct:1 BM_RunPerBlock/poles:2/oct:0 BM_RunPerBlock/poles:2/oct:1", order, " ")
    for (k = 1; k <= 4; ++k) {
      name = order[k]
      if (!(("module," name) in times) || !(("lv2," name) in times)) continue
      module = median(times["module," name]) / 1024
      lv2 = median(times["lv2," name]) / 1024
      printf "%-18s %18.3f %15.3f %11.3f\n", mode(name), module, lv2, lv2 / module
    }
    printf "\n%-18s %18s %17s %11s\n", "mode", "LV2 ns/sample", "tracker ns/sample", "tracker/LV2"
    for (k = 1; k <= 4; ++k) {
      name = order[k]
      tracker_name = name
      sub(/^BM_RunPerBlock/, "BM_TrackerRunPerBlock", tracker_name)
      if (!(("lv2," name) in times) || !(("lv2," tracker_name) in times)) continue
      lv2 = median(times["lv2," name]) / 1024
      tracker = median(times["lv2," tracker_name]) / 1024
      printf "%-18s %18.3f %17.3f %11.3f\n", mode(name), lv2, tracker, tracker / lv2
    }
  }' "$results"
