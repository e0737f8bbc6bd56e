#!/usr/bin/env bash
# when_built.sh FILE COMMAND...: runs COMMAND when FILE exists; otherwise says
# so and answers 77, which ctest reports as a skipped test. Tests of another
# preset's build (Win32 under Wine) use it, so each preset's tests stand alone.
file=$1
shift
if [ ! -e "$file" ]; then
  echo "skipped: $file is not built (cmake --preset win32 && cmake --build --preset win32)"
  exit 77
fi
exec "$@"
