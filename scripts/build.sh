#!/usr/bin/env bash
# Configures and builds every target tree: the native build/linux-x64 (the
# tool, which build/linux-x86's tests compare with), build/win32 (the i386
# suite runs its tests under Wine), build/linux-x86 and the LV2 bundle in
# build/lv2 (its tests compare with build/linux-x86 and the native tool).
# Quiet unless a step fails; the log is build/build.log. Arguments name the
# presets to build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
log=build/build.log
: >"$log"
for preset in "${@:-linux-x64 win32 linux-x86 lv2}"; do
  for p in $preset; do
    echo "build: $p" >&2
    if ! { cmake --preset "$p" && cmake --build --preset "$p"; } >>"$log" 2>&1; then
      tail -n 60 "$log" >&2
      echo "build: $p failed (full log: $log)" >&2
      exit 1
    fi
  done
done
