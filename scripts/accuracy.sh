#!/usr/bin/env bash
# Accuracy of the tool's pitch readings on 14 rendered melodies with a known
# MIDI truth, beside aubiopitch (see BENCHMARKS.md). The tests never run it.
#
#   scripts/accuracy.sh [OUT_DIR]     melodies, readings and accuracy.md in OUT_DIR
#                                     (build/accuracy)
#   ACCURACY_SYSTEMS="render,aubiopitch" scripts/accuracy.sh   only those rows
#   TONEVOLT=path/to/tonevolt scripts/accuracy.sh               that tool, unbuilt
#   TONEVOLT_LV2_BUNDLE=DIR           the tracker plug-ins' bundle (build/lv2/tonevolt.lv2)
#   ACCURACY_AUBIO_ALIGN=end          aubiopitch's readings at its window's end
#
# The rows are the SYSTEMS list in scripts/accuracy/score.py: a name and a
# command each.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
out=${1:-build/accuracy}
if [ -z "${TONEVOLT:-}" ]; then
  scripts/deps.sh >&2  # every group: the build configures tests and benchmarks
  build_dir=build/linux-x64
  mkdir -p "$build_dir"
  log=$build_dir/accuracy-build.log
  : >"$log"
  echo "accuracy: building the tool in $build_dir (log: $log)" >&2
  build_tool_and_bundle() {
    cmake --preset linux-x64 -B "$build_dir" &&
      cmake --build "$build_dir" -j2 --target tonevolt &&
      cmake --preset lv2 && cmake --build build/lv2 -j2 --target tonevolt_lv2
  }
  run_quietly "$log" "accuracy: build" build_tool_and_bundle
  TONEVOLT=$build_dir/tonevolt
else
  scripts/deps.sh test lv2 bench >&2  # fluidsynth, its sound font; lv2apply; aubio-tools, numpy
fi
tonevolt=$(realpath "$TONEVOLT")
mkdir -p "$out"
# The tracker plug-in's bundle, alone on LV2_PATH (hosts take every entry of
# a path directory for a bundle).
bundle=${TONEVOLT_LV2_BUNDLE:-build/lv2/tonevolt.lv2}
[ -e "$bundle/manifest.ttl" ] || { echo "accuracy: no LV2 bundle at $bundle (cmake --preset lv2 && cmake --build build/lv2)" >&2; exit 1; }
lv2_path=$(mktemp -d)
trap 'rm -rf "$lv2_path"' EXIT
ln -s "$(realpath "$bundle")" "$lv2_path/tonevolt.lv2"
export LV2_PATH=$lv2_path
/usr/bin/python3 -B scripts/accuracy/melodies.py "$out" >&2
/usr/bin/python3 -B scripts/accuracy/score.py "$out" "$tonevolt" ${ACCURACY_SYSTEMS:+"$ACCURACY_SYSTEMS"}
