# What the scripts share; sourced by them (after they cd to the top of the
# tree), never run.

# run_quietly LOG WHAT COMMAND [ARG...]: runs COMMAND with its output added
# to LOG. If it fails, shows the end of LOG and "WHAT failed (full log: LOG)"
# on stderr, and exits the script.
run_quietly() {
  local log=$1 what=$2
  shift 2
  if ! "$@" >>"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "$what failed (full log: $log)" >&2
    exit 1
  fi
}
