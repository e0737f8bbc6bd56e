#!/usr/bin/env bash
# Live smoke test: a JACK server on the dummy backend under a name of its
# own, console jalv running the CV plug-in with its standard input held open,
# and tonevolt_jack_player playing a signal through it and recording the
# output, which must equal the 32-bit module's render of the same signal.
# Then the same with the tracker's CV plug-in, played a line of notes whose
# readings must each be within 50 cents of the note.
# Every process runs under timeout and is stopped by its own pid; JACK talks
# over local sockets only.
#
#   live_test.sh PLAYER LV2_PATH_DIR REFERENCE MODULE WORK_DIR
#
# LV2_PATH_DIR holds the bundle alone.
#
# Exits 77 (skipped) when the 32-bit reference is not built.
set -euo pipefail
player=$1 lv2_path=$2 reference=$3 module=$4 work=$5

if [[ ! -x "$reference" || ! -f "$module" ]]; then
  echo "live: SKIP: no 32-bit reference ($reference, $module): build the linux-x86 preset first"
  exit 77
fi

rate=48000
period=256
uri=https://tonevolt.invalid/lv2/tonevolt-cv
tracker_uri=https://tonevolt.invalid/lv2/tonevolt-tracker-cv
client=tonevolt_live
# Settings other than the defaults, the same for jalv and the module.
cutoff=120 octave=1 scale=1 order=2

rm -rf "$work"
mkdir -p "$work"
"$player" signal "$work/signal.f32" "$rate"
printf '0 %s %s %s %s\n' "$cutoff" "$octave" "$scale" "$order" >"$work/settings.txt"
"$reference" "$module" "$rate" "$period" "$work/settings.txt" "$work/signal.f32" "$work/module.f32"

export JACK_NO_START_SERVER=1
export JACK_NO_AUDIO_RESERVATION=1
# The built bundle first; the LV2 vocabularies it refers to, from the system.
export LV2_PATH="$lv2_path:/usr/lib/lv2"

jackd_pid="" jalv_pid=""
# Waits up to 5 s for a process to end, then stops it by its pid.
end_process() {
  local pid=$1
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Ends jalv as its user would, by ending its input, then the server.
stop() {
  exec 3>&- 2>/dev/null || true
  if [[ -n $jalv_pid ]]; then end_process "$jalv_pid"; fi
  if [[ -n $jackd_pid ]]; then
    kill "$jackd_pid" 2>/dev/null || true
    end_process "$jackd_pid"
  fi
  jackd_pid="" jalv_pid=""
}
trap stop EXIT

# One session: a fresh server, a fresh jalv running URI with the controls
# given (-c symbol=value ...), one play (the player's arguments after --).
# Answers the player's status (3: the graph missed cycles while playing).
session() {
  local plugin=$1
  shift
  local controls=()
  while [[ $1 != -- ]]; do
    controls+=("$1")
    shift
  done
  shift
  export JACK_DEFAULT_SERVER="tonevolt-live-$$-$RANDOM"
  # Synchronous, with a long client timeout: on a loaded machine a late
  # cycle waits for the graph instead of dropping it.
  timeout -k 5 60 jackd --no-realtime --sync --timeout 5000 --name "$JACK_DEFAULT_SERVER" \
    -d dummy -r "$rate" -p "$period" -C 0 -P 0 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  for _ in $(seq 100); do
    jack_lsp >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! jack_lsp >/dev/null 2>&1; then
    cat "$work/jackd.log"
    echo "live: FAIL: jackd did not start"
    return 1
  fi

  # Console jalv quits when its standard input ends: a FIFO held open here.
  rm -f "$work/jalv.stdin"
  mkfifo "$work/jalv.stdin"
  timeout -k 5 50 jalv -x -n "$client" "${controls[@]}" "$plugin" <"$work/jalv.stdin" \
    >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  exec 3>"$work/jalv.stdin"

  local status=0
  timeout -k 5 30 "$player" "$@" || status=$?
  if ! kill -0 "$jalv_pid" 2>/dev/null; then
    echo "live: FAIL: jalv stopped early"
    status=1
  fi
  if [[ $status -ne 0 && $status -ne 3 ]]; then
    echo "--- jalv log"; cat "$work/jalv.log"
    echo "--- jackd log"; cat "$work/jackd.log"
  fi
  stop
  return "$status"
}

# A session spoiled by missed cycles says nothing about the plug-in: run
# another, up to three in all.
run_sessions() {
  local attempt status
  for attempt in 1 2 3; do
    status=0
    session "$@" || status=$?
    [[ $status -eq 3 ]] || return "$status"
    echo "live: attempt $attempt inconclusive"
  done
  echo "live: FAIL: every attempt had missed cycles"
  return 1
}

echo "live: $uri"
run_sessions "$uri" -c cutoff="$cutoff" -c octave="$octave" -c scale="$scale" -c order="$order" \
  -- play "$work/signal.f32" "$work/module.f32" "$client:input" "$client:pitch"
echo "live: $tracker_uri"
run_sessions "$tracker_uri" -c lowest=41.2 -c scale=1 -c order=2 \
  -- notes "$client:input" "$client:pitch"
