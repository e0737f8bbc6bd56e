#!/usr/bin/env bash
# compare_digests.sh I386_PROGRAM THIS_PROGRAM: both digest programs must
# print the same lines. Answers 77 (skipped) when the i386 one is not built.
set -euo pipefail
i386_program=$1
this_program=$2
if [ ! -x "$i386_program" ]; then
  echo "skipped: $i386_program is not built (cmake --preset linux-x86 &&" \
    "cmake --build build/linux-x86 --target tonevolt_conditioning_digest)"
  exit 77
fi
i386_lines=$("$i386_program")
these_lines=$("$this_program")
if [ "$i386_lines" != "$these_lines" ]; then
  echo "differs from i386 (< i386, > this build):"
  diff <(echo "$i386_lines") <(echo "$these_lines") || true
  exit 1
fi
echo "$(echo "$these_lines" | wc -l) digests as on i386"
