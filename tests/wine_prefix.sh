#!/usr/bin/env bash
# wine_prefix.sh init|stop: makes the build's Wine prefix (WINEPREFIX), or
# stops its server and the service processes it keeps.
#
# wineboot leaves services (explorer, winedevice, ...) running after it
# returns, holding whatever output it had: a file here, not the test's pipe,
# or the test would wait for them. Under qemu-i386 the prefix takes minutes.
set -uo pipefail
case "${1:-}" in
  init)
    log=$WINEPREFIX.log
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot --init </dev/null >"$log" 2>&1
    status=$?
    cat "$log"
    exit $status
    ;;
  stop)
    wineserver -k 2>/dev/null
    exit 0
    ;;
  *)
    echo "usage: $0 init|stop" >&2
    exit 2
    ;;
esac
