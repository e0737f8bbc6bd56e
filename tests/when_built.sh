#!/usr/bin/env bash
# when_built.sh FILE PRESET COMMAND...: runs COMMAND when FILE exists;
# otherwise says so and answers 77, which ctest reports as a skipped test.
# Tests of another preset's build (Win32 under Wine, the native tool) use it,
# so each preset's tests stand alone.
file=$1
preset=$2
shift 2
if [ ! -e "$file" ]; then
  echo "skipped: $file is not built (cmake --preset $preset && cmake --build --preset $preset)"
  exit 77
fi
exec "$@"
