#!/usr/bin/env bash
# Configures and builds every target tree: the native build/linux-x64 (the
# tool, which build/linux-x86's tests compare with), build/win32 (the i386
# suite runs its tests under Wine), build/linux-x86 and the LV2 bundle in
# build/lv2 with the CLAP and VST3 plug-ins (their tests compare with
# build/linux-x86 and the native tool, and run build/win64's Windows builds).
# Quiet unless a step fails; the log is build/build.log. Arguments name the
# presets to build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
mkdir -p build
log=build/build.log
: >"$log"
build_preset() { cmake --preset "$1" && cmake --build --preset "$1"; }
for preset in "${@:-linux-x64 win32 linux-x86 win64 lv2}"; do
  for p in $preset; do
    echo "build: $p" >&2
    run_quietly "$log" "build: $p" build_preset "$p"
  done
done
