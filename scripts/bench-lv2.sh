#!/usr/bin/env bash
# The LV2 plug-in's run() (x86-64, build/lv2) against the 32-bit module's
# process entry (i386, build/linux-x86): cost per sample in each mode, in
# 1024-sample blocks of the same signal at the same settings, then the ratio;
# the tracker plug-in's run() against the plain one's; and the CLAP and VST3
# plug-ins' process against the LV2 run(), plain and tracker. Every plug-in
# format is measured by the same LV2 program, its repetitions in random
# order.
# The two Google Benchmark programs take turns, three rounds each, and each
# figure is the median of their medians, so that the load of a shared
# machine falls on both alike. Not part of the tests; arguments go to both
# programs (for example --benchmark_min_time=0.5). TONEVOLT_X86_DIR=DIR
# runs the module side from that linux-x86 tree, built already, instead of
# building build/linux-x86 (slow where i386 runs under qemu).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh
mkdir -p build
log=build/bench-lv2-build.log
: >"$log"
x86_dir=${TONEVOLT_X86_DIR:-build/linux-x86}
echo "bench-lv2: building $x86_dir and build/lv2 (log: $log)" >&2
build_benches() {
  if [[ -z ${TONEVOLT_X86_DIR:-} ]]; then
    cmake --preset linux-x86 && cmake --build --preset linux-x86 --target tonevolt_module_bench
  fi &&
    cmake --preset lv2 && cmake --build --preset lv2 --target tonevolt_lv2_bench
}
run_quietly "$log" "bench-lv2: build" build_benches

results=build/bench-lv2.csv
: >"$results"
for round in 1 2 3; do
  for side in module lv2; do
    echo "bench-lv2: round $round, $side" >&2
    "$([[ $side == module ]] && echo "$x86_dir" || echo build/lv2)/tonevolt_${side}_bench" \
      --benchmark_repetitions=5 --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
      --benchmark_enable_random_interleaving=true --benchmark_format=csv "$@" 2>/dev/null |
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
  # BM_ClapTrackerProcessPerBlock/poles:2/oct:1 for "Clap", "Tracker" and
  # BM_RunPerBlock/poles:2/oct:1; format "" is LV2 and kind "" the plain plug-in.
  function named(format, kind, name) {
    sub(/^BM_RunPerBlock/, "BM_" format kind (format == "" ? "Run" : "Process") "PerBlock", name)
    return name
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
    printf "\n%-8s %-18s %14s %15s %15s %9s %9s\n", "plug-in", "mode", "LV2 ns/sample",
      "CLAP ns/sample", "VST3 ns/sample", "CLAP/LV2", "VST3/LV2"
    for (t = 1; t <= 2; ++t) {
      kind = t == 2 ? "Tracker" : ""
      for (k = 1; k <= 4; ++k) {
        lv2_name = named("", kind, order[k])
        clap_name = named("Clap", kind, order[k])
        vst3_name = named("Vst3", kind, order[k])
        if (!(("lv2," lv2_name) in times) || !(("lv2," clap_name) in times) ||
            !(("lv2," vst3_name) in times)) continue
        lv2 = median(times["lv2," lv2_name]) / 1024
        clap = median(times["lv2," clap_name]) / 1024
        vst3 = median(times["lv2," vst3_name]) / 1024
        printf "%-8s %-18s %14.3f %15.3f %15.3f %9.3f %9.3f\n", kind == "" ? "plain" : "tracker",
          mode(order[k]), lv2, clap, vst3, clap / lv2, vst3 / lv2
      }
    }
  }' "$results"
