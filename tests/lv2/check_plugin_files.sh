#!/usr/bin/env bash
# What a DAW sees before loading the CLAP and VST3 plug-ins: the files and
# the bundle layout, each binary exporting its format's entry points alone,
# the Windows ones importing Windows system DLLs alone (nothing to install
# beside them), and installs that go where hosts look and nowhere else.
#
# Usage: check_plugin_files.sh LINUX_TREE WIN64_TREE WORK_DIR
set -uo pipefail
linux=$1 win64=$2 work=$3
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# exports FILE: the names a binary exports, sorted, on one line.
exports() {
  case $(file -b "$1") in
    PE32+*) x86_64-w64-mingw32-objdump -p "$1" |
      awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^\t\[/ { print $NF } on && /^$/ { on = 0 }' ;;
    *) nm -D --defined-only "$1" | awk '$2 ~ /^[TDBR]$/ { print $3 }' ;;
  esac | sort | tr '\n' ' ' | sed 's/ $//'
}

# expect_binary FILE KIND EXPORTS: a binary of that kind exporting exactly those.
expect_binary() {
  local path=$1 kind=$2 want=$3
  if [ ! -f "$path" ]; then
    fail "$path: missing"
    return
  fi
  file -b "$path" | grep -q "$kind" || fail "$path: not $kind: $(file -b "$path")"
  local got
  got=$(exports "$path")
  [ "$got" = "$want" ] || fail "$path exports '$got', not '$want'"
  echo "ok: $path: $kind, exports $got"
}

# Windows DLLs every Windows has; nothing of mingw's own.
system_dlls='^(kernel32|msvcrt|user32|advapi32|ole32|shell32|ucrtbase|api-ms-win-.*)\.dll$'
expect_system_imports() {
  local dll
  while read -r dll; do
    echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls" || fail "$1 imports $dll"
  done < <(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print $3 }')
}

expect_binary "$linux/clap/Tonevolt.clap" "ELF 64-bit LSB shared object, x86-64" "clap_entry"
expect_binary "$linux/vst3/Tonevolt.vst3/Contents/x86_64-linux/Tonevolt.so" \
  "ELF 64-bit LSB shared object, x86-64" "GetPluginFactory ModuleEntry ModuleExit"
if [ -d "$win64" ]; then
  expect_binary "$win64/clap/Tonevolt.clap" "PE32+ executable (DLL)" "clap_entry"
  expect_binary "$win64/vst3/Tonevolt.vst3/Contents/x86_64-win/Tonevolt.vst3" \
    "PE32+ executable (DLL)" "ExitDll GetPluginFactory InitDll"
  for dll in "$win64/clap/Tonevolt.clap" "$win64/vst3/Tonevolt.vst3/Contents/x86_64-win/Tonevolt.vst3"; do
    expect_system_imports "$dll"
  done
else
  echo "partly skipped: no $win64 (build the win64 preset first; scripts/test.sh does)"
fi

# Installs: each format into the user's folder on its own component; a
# plain install (the LV2 bundle under a prefix, often as root) leaves the
# user's folders alone.
rm -rf "$work" && mkdir -p "$work"
for component in clap vst3; do
  DESTDIR=$work/$component cmake --install "$linux" --component $component >/dev/null ||
    fail "cmake --install --component $component"
done
[ -f "$work/clap$HOME/.clap/Tonevolt.clap" ] || fail "no ~/.clap/Tonevolt.clap after install"
[ -f "$work/vst3$HOME/.vst3/Tonevolt.vst3/Contents/x86_64-linux/Tonevolt.so" ] ||
  fail "no ~/.vst3/Tonevolt.vst3 after install"
DESTDIR=$work/plain cmake --install "$linux" --prefix /usr/local >/dev/null || fail "plain install"
[ -d "$work/plain/usr/local/lib/lv2/tonevolt.lv2" ] || fail "plain install: no LV2 bundle"
[ ! -e "$work/plain$HOME" ] || fail "plain install wrote under $HOME: $(find "$work/plain$HOME" | head -3)"

[ "$failures" -eq 0 ] && echo "all plug-in files as hosts expect"
exit $((failures > 0))
