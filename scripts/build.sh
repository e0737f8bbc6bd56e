#!/usr/bin/env bash
# Configures and builds every target: build/win32 first (the Linux test
# suite runs its tests under Wine), then build/linux-x86, then the LV2 bundle
# in build/lv2 (its tests compare with build/linux-x86). Quiet unless a step
# fails; the log is build/build.log.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
log=build/build.log
: >"$log"
for preset in win32 linux-x86 lv2; do
  echo "build: $preset" >&2
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >>"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "build: $preset failed (full log: $log)" >&2
    exit 1
  fi
done
