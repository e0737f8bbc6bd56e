#!/usr/bin/env bash
# The project's main job: builds the module and the command-line tool for
# this machine into build/tool (no test, benchmark, i386 or Win32 packages
# needed) and runs the demo, which writes its files into ./tonevolt-demo.
# Quiet unless the build fails; the log is build/tool.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh tool
build=build/tool
mkdir -p build
echo "run: building $build (log: $build.log)" >&2
if ! { cmake --preset linux-x64 -B "$build" -DTONEVOLT_TESTS=OFF &&
       cmake --build "$build" -j2 --target tonevolt; } >"$build.log" 2>&1; then
  tail -n 60 "$build.log" >&2
  echo "run: build failed (full log: $build.log)" >&2
  exit 1
fi
"$build/tonevolt" demo
