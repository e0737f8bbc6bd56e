#!/usr/bin/env bash
# The project's main job: builds the module and the command-line tool for
# this machine into build/tool (no test, benchmark, i386 or Win32 packages
# needed) and runs the demo, which writes its files into ./tonevolt-demo.
# Quiet unless the build fails; the log is build/tool.log.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
scripts/deps.sh tool
build=build/tool
mkdir -p build
: >"$build.log"
echo "run: building $build (log: $build.log)" >&2
build_tool() {
  cmake --preset linux-x64 -B "$build" -DTONEVOLT_TESTS=OFF &&
    cmake --build "$build" -j2 --target tonevolt
}
run_quietly "$build.log" "run: build" build_tool
"$build/tonevolt" demo
