#!/usr/bin/env bash
# Checks of the shipped libraries that no host call can see: file format,
# what they export and what they import. Prints what it found; exits
# non-zero on the first fault.
#
#   check_library.sh elf LIBRARY.so i386|x86-64
#   check_library.sh pe LIBRARY.dll OBJDUMP
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

check_elf() {
  local lib=$1 arch=$2 class machine
  case "$arch" in
    i386) class=ELF32 machine='Intel 80386' ;;
    x86-64) class=ELF64 machine='Advanced Micro Devices X86-64' ;;
    *) fail "no architecture $arch" ;;
  esac
  local header
  header=$(readelf -h "$lib")
  grep -Eq "Class:[[:space:]]+$class\$" <<<"$header" || fail "$lib is not $class"
  grep -Eq 'Type:[[:space:]]+DYN ' <<<"$header" || fail "$lib is not a shared object"
  grep -Eq "Machine:[[:space:]]+$machine\$" <<<"$header" || fail "$lib is not $arch"
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

case "${1:-}" in
  elf) check_elf "$2" "$3" ;;
  pe) check_pe "$2" "$3" ;;
  *) fail "usage: $0 elf LIB i386|x86-64 | pe LIB OBJDUMP" ;;
esac
echo "OK"
