#!/usr/bin/env bash
# Checks of the shipped libraries that no host call can see: file format,
# what they export, what they import, and that the boundary header refuses
# a 64-bit build. Prints what it found; exits non-zero on the first fault.
#
#   check_library.sh elf LIBRARY.so
#   check_library.sh pe LIBRARY.dll OBJDUMP
#   check_library.sh not64 HEADER CXX
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

check_elf() {
  local lib=$1
  local header
  header=$(readelf -h "$lib")
  grep -Eq 'Class:[[:space:]]+ELF32$' <<<"$header" || fail "$lib is not ELF32"
  grep -Eq 'Type:[[:space:]]+DYN ' <<<"$header" || fail "$lib is not a shared object"
  grep -Eq 'Machine:[[:space:]]+Intel 80386$' <<<"$header" || fail "$lib is not i386"
  # Defined functions in the dynamic symbol table: main alone.
  local functions
  functions=$(readelf --dyn-syms -W "$lib" |
    awk '($4 == "FUNC" || $4 == "IFUNC") && $7 != "UND" { print $8 }' | sort -u)
  echo "defined dynamic functions: ${functions//$'\n'/ }"
  [[ "$functions" == "main" ]] || fail "$lib exports functions other than main only: $functions"
}

check_pe() {
  local lib=$1 objdump=$2
  local dump
  dump=$("$objdump" -p "$lib")
  grep -q 'file format pei-i386' <<<"$dump" || fail "$lib is not PE i386"
  grep -Eq '^Magic[[:space:]]+010b' <<<"$dump" || fail "$lib is not PE32"
  local names
  names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p')
  echo "exported names: ${names//$'\n'/ }"
  [[ "$names" == "main" ]] || fail "$lib exports by name more than main: $names"
  local imports
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
  echo "imported DLLs: ${imports//$'\n'/ }"
  [[ -n "$imports" ]] || fail "$lib has no import table"
  local dll
  for dll in $imports; do
    # Windows' own DLLs only: the C++ runtime is linked in, never imported.
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll | api-ms-win-*) ;;
      *) fail "$lib imports $dll, which Windows does not ship" ;;
    esac
  done
}

check_not64() {
  local header=$1 cxx=$2
  local output
  if output=$("$cxx" -m64 -fsyntax-only -x c++ "$header" 2>&1); then
    fail "$header compiled for 64 bits"
  fi
  grep -q 'The plug-in boundary is 32-bit' <<<"$output" ||
    fail "64-bit compile of $header failed without the boundary message: $output"
  echo "64-bit compile refused: $(grep -m1 'boundary is 32-bit' <<<"$output")"
}

case "${1:-}" in
  elf) check_elf "$2" ;;
  pe) check_pe "$2" "$3" ;;
  not64) check_not64 "$2" "$3" ;;
  *) fail "usage: $0 elf LIB | pe LIB OBJDUMP | not64 HEADER CXX" ;;
esac
echo "OK"
