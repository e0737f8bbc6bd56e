#!/usr/bin/env bash
# Runs a corpus of real commands through two builds of the tool and says, run
# by run, whether they agree: exit code, standard output and error, and every
# file written, byte for byte. For changes that must change nothing the tool
# does, such as moving or renaming its sources. The tests never run it.
#
#   scripts/compare-runs.sh REV                 the tool built from REV (in a
#                                               worktree, build/compare/rev-COMMIT,
#                                               reused) against the working tree's
#                                               build/linux-x64/tonevolt, built here
#   scripts/compare-runs.sh OLD_TOOL NEW_TOOL   two tools as built
#
# One line a run, "NAME  same" or what differs, then "N runs, N identical,
# N differ"; exit 0 only if all are identical. Both sides' runs stay in
# build/compare/runs/{old,new}/NAME/: stdout, stderr and exit as compared, and
# the files the run wrote. The inputs are made once into build/compare/inputs/
# (the accuracy benchmark's melodies, the ALSA samples, espeak-ng speech,
# fluidsynth and numpy tones) and reused; remove that folder to make them again.
set -euo pipefail
case $# in
  1) ;;
  2) old=$(realpath -m -- "$1") new=$(realpath -m -- "$2") ;;  # as given, before the cd
  *)
    echo "usage: scripts/compare-runs.sh REV | OLD_TOOL NEW_TOOL" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."
. scripts/lib.sh
compare=$PWD/build/compare
scripts/deps.sh tool test bench >&2  # the builds configure tests and benchmarks; fluidsynth, espeak-ng, numpy

# build_tool DIR: the linux-x64 tool in DIR.
build_tool() {
  (cd "$1" && cmake --preset linux-x64 && cmake --build --preset linux-x64 --target tonevolt -j2)
}

mkdir -p "$compare"
if [ $# -eq 1 ]; then
  commit=$(git rev-parse --verify --quiet "$1^{commit}") ||
    { echo "compare: no commit '$1'" >&2; exit 2; }
  tree=$compare/rev-${commit:0:12}
  if [ "$(cat "$tree/build/compare-built" 2>/dev/null)" = "$commit" ]; then
    echo "compare: old: $1 ($commit), built before in $tree" >&2
  else
    # -f: a worktree whose folder went with build/ is still registered.
    [ -e "$tree/.git" ] || git worktree add -q -f --detach "$tree" "$commit"
    echo "compare: old: building $1 ($commit) in $tree (log: $compare/build-old.log)" >&2
    : >"$compare/build-old.log"
    run_quietly "$compare/build-old.log" "compare: building $1" build_tool "$tree"
    echo "$commit" >"$tree/build/compare-built"
  fi
  echo "compare: new: building the working tree (log: $compare/build-new.log)" >&2
  : >"$compare/build-new.log"
  run_quietly "$compare/build-new.log" "compare: building the working tree" build_tool .
  old=$tree/build/linux-x64/tonevolt
  new=build/linux-x64/tonevolt
fi
for tool in "$old" "$new"; do
  [ -x "$tool" ] || { echo "compare: no tool at $tool" >&2; exit 1; }
done
declare -A tools=([old]=$(realpath "$old") [new]=$(realpath "$new"))

# The inputs, made once. Their checksums tell a later run that nothing has
# written over them since.
inputs=$compare/inputs
if [ -e "$inputs/SHA256SUMS" ]; then
  (cd "$inputs" && sha256sum --quiet -c SHA256SUMS) ||
    { echo "compare: $inputs changed since it was made; remove it to make it again" >&2; exit 1; }
else
  echo "compare: making the inputs in $inputs" >&2
  rm -rf "$inputs" "$inputs.part"
  mkdir -p "$inputs.part"/{alsa,speech}
  /usr/bin/python3 -B scripts/accuracy/melodies.py "$inputs.part/melodies" >/dev/null
  /usr/bin/python3 -B scripts/compare/inputs.py "$inputs.part/tones"
  cp /usr/share/sounds/alsa/*.wav "$inputs.part/alsa/" 2>/dev/null || true
  espeak-ng -w "$inputs.part/speech/speech_1.wav" "The quick brown fox jumps over the lazy dog."
  espeak-ng -w "$inputs.part/speech/speech_2.wav" \
    "Please call Stella. Ask her to bring these things with her from the store."
  espeak-ng -w "$inputs.part/speech/speech_3.wav" "Seven hundred and twenty-one volts, one per octave."
  printf '%s\n' '# time  pin            value' '2s      Octave         +1' '3s      Filter Cutoff  120' \
    '176400  Freq Scale     oct' '6s      Filter Order   2' >"$inputs.part/events.txt"
  (cd "$inputs.part" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs sha256sum) >"$compare/sums"
  mv "$compare/sums" "$inputs.part/SHA256SUMS"
  mv "$inputs.part" "$inputs"
fi

runs=$compare/runs
rm -rf "$runs"
mkdir -p "$runs"/{old,new,.tmp}
# One for both sides, so that its name is the same.
export TMPDIR=$runs/.tmp

# A path as a sed pattern.
literal() { printf '%s' "$1" | sed 's/[][\.*^$|]/\\&/g'; }

# What must differ between two builds, and nothing else: the tool's own path
# (and its folder, where the module lies), the run's folder, the temporary
# folder and the random end of a temporary file's name. Made once: a run
# costs a handful of processes, not dozens.
normalise=()
for side in old new; do
  normalise+=(-e "s|$(literal "${tools[$side]}")|tonevolt|g"
              -e "s|$(literal "$(dirname "${tools[$side]}")")|TOOL_DIR|g"
              -e "s|$(literal "$runs/$side")|RUNS|g")
done
normalise+=(-e "s|$(literal "$TMPDIR")|TMPDIR|g"
            -e "s#(^|[/[:space:]'\"])(\\.[^/[:space:]]+\\.)[A-Za-z0-9]{6}([^A-Za-z0-9]|\$)#\\1\\2XXXXXX\\3#g")

# launch SIDE NAME ARGS...: the tool in its run's folder, in the background,
# standard input from $stdin (else nothing).
launch() {
  local side=$1 name=$2
  shift 2
  (cd "$runs/$side/$name" && exec "${tools[$side]}" "$@" >stdout 2>stderr <"${stdin:-/dev/null}") &
}

total=0
same=0
# finish NAME OLD_PID NEW_PID: each side's exit code, stdout and stderr
# normalised as kept, then one line for the run, what differs or "same".
# Every file byte for byte: the tool's WAVs carry no time stamp and no PEAK
# chunk, and gnuplot's PNGs no time either (one build gives the same bytes
# twice).
finish() {
  local name=$1 a=$runs/old/$1 b=$runs/new/$1 side status line file differences=() old_exit new_exit
  shift
  for side in old new; do
    status=0
    wait "$1" || status=$?
    shift
    echo "$status" >"$runs/$side/$name/exit"
  done
  sed -i -E "${normalise[@]}" "$a/stdout" "$a/stderr" "$b/stdout" "$b/stderr"
  while IFS= read -r line; do
    case $line in
      "Files $a/"*)
        file=${line#"Files $a/"}
        file=${file%% and "$b/"*}
        if [ "$file" = exit ]; then
          read -r old_exit <"$a/exit"
          read -r new_exit <"$b/exit"
          file="exit $old_exit / $new_exit"
        fi
        differences+=("$file") ;;
      "Only in $a"*) file=${line#"Only in $a"}; file=${file/: //}; differences+=("${file#/} only in old") ;;
      "Only in $b"*) file=${line#"Only in $b"}; file=${file/: //}; differences+=("${file#/} only in new") ;;
      *) differences+=("$line") ;;
    esac
  done < <(LC_ALL=C diff -rq "$a" "$b")
  total=$((total + 1))
  if [ ${#differences[@]} -eq 0 ]; then
    same=$((same + 1))
    printf '%-48s same\n' "$name"
  else
    local text=${differences[0]} difference
    for difference in "${differences[@]:1}"; do text+=", $difference"; done
    printf '%-48s differs: %s\n' "$name" "${text//"$runs/"/}"
  fi
}

# run NAME ARGS...: both sides at once, then compared.
run() {
  local name=$1 pids=() side
  shift
  mkdir "$runs/old/$name" "$runs/new/$name"
  for side in old new; do
    launch "$side" "$name" "$@"
    pids+=($!)
  done
  finish "$name" "${pids[@]}"
}

# suggested NAME ADVISE_RUN INPUT [OPTIONS...]: render INPUT with the
# settings each side's advise suggested on its last "suggested: " line. A
# side whose advise suggested nothing says so, and the sides differ when only
# one did.
suggested() {
  local name=$1 advised=$2 input=$3 side line settings pids=()
  shift 3
  declare -A settings_of=()
  for side in old new; do
    while IFS= read -r line; do
      [[ $line != "suggested: "* ]] || settings_of[$side]=${line#"suggested: "}
    done <"$runs/$side/$advised/stdout"
  done
  [ ${#settings_of[@]} -gt 0 ] || return 0
  mkdir "$runs/old/$name" "$runs/new/$name"
  for side in old new; do
    settings=${settings_of[$side]:-}
    if [ -n "$settings" ]; then
      # shellcheck disable=SC2086  # the options, one word each
      launch "$side" "$name" render "$input" out.wav "$@" $settings
    else
      (echo "advise suggested nothing" >"$runs/$side/$name/stdout" && : >"$runs/$side/$name/stderr") &
    fi
    pids+=($!)
  done
  finish "$name" "${pids[@]}"
}

echo "compare: old ${tools[old]}" >&2
echo "compare: new ${tools[new]}" >&2
start=$SECONDS

# The commands a user meets first, and careless ones.
clarinet=$inputs/melodies/clarinet.wav
run help --help
run version --version
run render-help render --help
run no-command
run describe describe
run demo demo --out demo
run advise-notes-A0-C8 advise --notes A0-C8
run advise-notes-E1-A3 advise --notes E1-A3
run advise-notes-downwards advise --notes C5-C4
run missing-file render missing.wav out.wav
run unknown-option render "$clarinet" out.wav --bogus 1
run unknown-command frobnicate "$clarinet"
run option-before-command --cutoff 20 render "$clarinet" out.wav
run out-to-dev-null render "$clarinet" /dev/null
run csv-to-dev-null render "$clarinet" out.wav --csv /dev/null --csv-every 100
run cutoff-out-of-range render "$clarinet" out.wav --cutoff 3
run outputs-clash render "$clarinet" out.wav --csv out.wav
run missing-module --module nosuch.so describe
stdin=$clarinet run stdin render - out.wav
run events render "$clarinet" out.wav --events "$inputs/events.txt" --csv out.csv --csv-every 0.01s

# Every input: the defaults, advise's kind of settings, the live pre-filter
# without and with hold, fixed slices, the CSV and plot, advise and what it suggests.
for input in "$inputs"/*/*.wav; do
  n=${input##*/}
  n=${n%.wav}
  run "$n.render" render "$input" out.wav
  run "$n.render-oct-follow" render "$input" out.wav --order 2 --cutoff 10 --scale oct \
    --prefilter follow --report notes
  run "$n.render-live" render "$input" out.wav --prefilter live
  run "$n.render-live-hold" render "$input" out.wav --prefilter live:hold
  run "$n.render-slices" render "$input" out.wav --report slices:0.2
  run "$n.render-csv-plot" render "$input" out.wav --csv out.csv --csv-every 0.01s --plot out.png
  run "$n.advise" advise "$input"
  suggested "$n.render-suggested" "$n.advise" "$input"
  case $n in
    a4_44100)
      run "$n.render-csv-every-sample" render "$input" out.wav --csv out.csv ;;
    a4_22050 | a4_48000 | a4_96000_float)
      run "$n.render-native-rate" render "$input" out.wav --native-rate ;;
    stereo_channel1_float)
      run "$n.render-channel-1" render "$input" out.wav --channel 1
      run "$n.advise-channel-1" advise "$input" --channel 1
      suggested "$n.render-channel-1-suggested" "$n.advise-channel-1" "$input" --channel 1 ;;
    clarinet | piano | speech_2 | clarinet_c3_c5_e3_e5_float)
      run "$n.advise-plot" advise "$input" --plot advise.png ;;
  esac
done

echo "compare: $total runs in $((SECONDS - start)) s; both sides' outputs in $runs" >&2
echo "$total runs, $same identical, $((total - same)) differ"
[ "$same" -eq "$total" ]
