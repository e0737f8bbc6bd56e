#!/usr/bin/env bash
# Configures and builds every target tree: build/win32 first (the Linux
# test suite runs its tests under Wine), then build/linux-x86, build/linux-x64
# and the LV2 bundle in build/lv2 (its tests compare with build/linux-x86).
# Quiet unless a step fails; the log is build/build.log. Arguments name the
# presets to build instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
log=build/build.log
: >"$log"
for preset in "${@:-win32 linux-x86 linux-x64 lv2}"; do
  for p in $preset; do
    echo "build: $p" >&2
    if ! { cmake --preset "$p" && cmake --build --preset "$p"; } >>"$log" 2>&1; then
      tail -n 60 "$log" >&2
      echo "build: $p failed (full log: $log)" >&2
      exit 1
    fi
  done
done
