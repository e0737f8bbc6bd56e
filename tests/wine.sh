#!/usr/bin/env bash
# wine.sh init | stop | run PROGRAM ARGS... | suite PROGRAM ARGS...
#   init   makes the build's Wine prefix (WINEPREFIX, from the test)
#   stop   stops its server and the service processes it keeps
#   run    runs a Win32 program in it
#   suite  runs the Win32 module suite in it, as one process
#
# Wine's settings live here, so every Win32 test runs it the same way.
#
# Under qemu-i386 (TONEVOLT_I386_RUN=emulated) every Wine process costs a
# minute of start-up and wineboot's full prefix some ten, so the prefix is
# the least Wine runs a console program in: its drive links and its own
# Win32 libraries, with the boot and service programs turned off. The suite
# there leaves out what emulated Wine does not give: a second thread loses
# Wine's server connection, which ends the whole process ("wine client error:
# write: Bad file descriptor"), and death tests start a Wine process each.
# Both kinds run in the i386 Linux suite on the same machine, and under Wine
# wherever i386 runs natively.
set -uo pipefail
export WINEDEBUG=-all LC_ALL=C  # a UTF-8 locale takes the page Wine needs under qemu
overrides="mscoree,mshtml="
emulated=false
if [ "${TONEVOLT_I386_RUN:-}" = emulated ]; then
  emulated=true
  overrides+=";wineboot.exe,services.exe,explorer.exe,winedevice.exe,plugplay.exe=d"
fi
export WINEDLLOVERRIDES=$overrides
# A 32-bit prefix for the Win32 programs: with wine64 installed too (the
# Windows x86-64 plug-ins' tests), Wine would otherwise take the prefix for a
# 64-bit one and look for its own 32-bit libraries where this one has none.
export WINEARCH=win32
emulated_leaves_out='*OnFourThreads*:HostObligationsTest.*'

# Wine's own Win32 libraries, which wineboot would copy into system32.
win32_libraries() {
  local dir
  for dir in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows \
             /usr/lib32/wine/i386-windows /opt/wine*/lib/wine/i386-windows; do
    [ -e "$dir/kernel32.dll" ] && { echo "$dir"; return 0; }
  done
  return 1
}

case "${1:-}" in
  init)
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if $emulated && libraries=$(win32_libraries); then
      mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/windows/system32"
      ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
      ln -s / "$WINEPREFIX/dosdevices/z:"
      ln -s "$libraries"/*.dll "$libraries"/*.exe "$WINEPREFIX/drive_c/windows/system32/"
      echo disable >"$WINEPREFIX/.update-timestamp"  # no wineboot --update either
      echo "a Wine prefix for emulation at $WINEPREFIX, on $libraries"
      exit 0
    fi
    # wineboot leaves services running that hold its output: a file, not the
    # test's pipe, or the test would wait for them.
    log=$WINEPREFIX.log
    wineboot --init </dev/null >"$log" 2>&1
    status=$?
    cat "$log"
    exit $status
    ;;
  stop)
    wineserver -k 2>/dev/null
    exit 0
    ;;
  run)
    shift
    exec wine "$@"
    ;;
  suite)
    shift
    program=$1
    shift
    if $emulated; then
      echo "partly skipped: win32.tonevolt_tests leaves out $emulated_leaves_out under Wine in qemu-i386 (threads and death tests; they run in the i386 Linux suite)"
      exec wine "$program" "--gtest_filter=-$emulated_leaves_out" "$@"
    fi
    exec wine "$program" "$@"
    ;;
  *)
    echo "usage: $0 init | stop | run PROGRAM ARGS... | suite PROGRAM ARGS..." >&2
    exit 2
    ;;
esac
