#!/usr/bin/env bash
# The VST3 plug-ins in a real DAW: headless Ardour 7 (ardour7-lua) on its
# Dummy backend, a session per sample rate with a track per case, each
# playing a WAV file (a fluidsynth melody, then a sine sweep) into the
# plug-in, its parameters set from Lua. Each track's bounce through the
# plug-in must equal, sample for sample, the 32-bit module's render of the
# same signal and settings (the tracker's: the LV2 tracker's, through
# lv2apply). Then the session is saved, reopened, the parameters checked
# and every track bounced again, to the same result; and once more with the
# session holding only the plug-ins' own saved state.
#
#   ardour_test.sh VST3_BUNDLE LV2_BUNDLE REFERENCE MODULE WORK_DIR [vst3|lv2]
#
# lv2 runs the same through the LV2 bundle's audio-output plug-ins instead.
# Ardour runs with a HOME of its own in WORK_DIR: the user's plug-ins,
# configuration and caches are neither read nor touched.
#
# Exits 77 (skipped) when ardour7-lua or the plug-in bundle is missing.
set -euo pipefail
vst3_bundle=$1 lv2_bundle=$2 reference=$3 module=$4 work=$5 format=${6:-vst3}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
signals="$here/ardour_signals.py"
rates=(48000 44100)

if ! command -v ardour7-lua >/dev/null; then
  echo "ardour: SKIP: ardour7-lua is not installed (Debian package ardour)"
  exit 77
fi
bundle=$vst3_bundle
[[ $format == lv2 ]] && bundle=$lv2_bundle
if [[ ! -d $bundle ]]; then
  echo "ardour: SKIP: no plug-in bundle at $bundle"
  exit 77
fi
for file in "$reference" "$module" "$lv2_bundle/manifest.ttl"; do
  if [[ ! -e $file ]]; then
    echo "ardour: FAIL: missing $file"
    exit 1
  fi
done

rm -rf "$work"
mkdir -p "$work/home/.config/ardour7" "$work/lv2-path" "$work/no-lv2"
bundle=$(cd "$bundle" && pwd)
ln -s "$(cd "$lv2_bundle" && pwd)" "$work/lv2-path/tonevolt.lv2"
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache" XDG_DATA_HOME="$HOME/.local/share"
# Ardour lists the Dummy backend only when told to.
cat >"$HOME/.config/ardour7/config" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
  </Config>
</Ardour>
EOF

if [[ $format == vst3 ]]; then
  # Ardour loads a VST3 only from its folders (~/.vst3 first), and only
  # once its scanner has indexed it. It takes an index for stale unless the
  # module's time, in whole seconds, is before the index's, and its scanner
  # dates the index to the module's own second: so a copy (a snapshot of
  # the build, which a link is not), dated a minute back.
  mkdir -p "$HOME/.vst3"
  installed="$HOME/.vst3/$(basename "$bundle")"
  cp -r "$bundle" "$installed"
  find "$installed" -type f -exec touch -m -d '1 minute ago' {} +
  if ! LD_LIBRARY_PATH=/usr/lib/ardour7 /usr/lib/ardour7/ardour-vst3-scanner "$installed" \
    >"$work/scan.log" 2>&1; then
    cat "$work/scan.log"
    echo "ardour: FAIL: Ardour's scanner refuses $installed"
    exit 1
  fi
  plugin_type=VST3 lv2_path="$work/no-lv2"
else
  plugin_type=LV2 lv2_path="$work/lv2-path"
fi

# One Ardour run, its output kept in LOG and shown when it fails.
ardour() {
  local log=$1
  shift
  if ! LV2_PATH="$lv2_path" timeout -k 5 60 ardour7-lua "$@" >"$log" 2>&1; then
    cat "$log"
    echo "ardour: FAIL: ardour7-lua $*"
    return 1
  fi
  grep '^ardour:' "$log" || true
}

status=0
for rate in "${rates[@]}"; do
  dir="$work/$rate" name=tonevolt
  session="$dir/$name"
  audio="$session/interchange/$name/audiofiles"
  mkdir -p "$dir"
  length=$("$python" "$signals" input "$rate" "$dir")
  "$python" "$signals" plan "$format" "$work/lv2-path" "$dir"
  "$python" "$signals" references "$rate" "$reference" "$module" "$work/lv2-path" "$dir"
  echo "ardour: $rate Hz, $length samples"

  ardour "$dir/new_session.log" "$here/ardour_new_session.lua" "$session" "$name" "$rate" \
    "$length" $(cut -f1 "$dir/plan.txt")
  "$python" "$signals" replace "$audio/input.wav" "$dir/input.f32"

  ardour "$dir/render.log" "$here/ardour_render.lua" "$session" "$name" "$rate" "$plugin_type" \
    "$dir/plan.txt" "$length" new || status=1
  "$python" "$signals" check "$dir" "$audio" "" || status=1

  ardour "$dir/reopened.log" "$here/ardour_render.lua" "$session" "$name" "$rate" \
    "$plugin_type" "$dir/plan.txt" "$length" reopened || status=1
  "$python" "$signals" check "$dir" "$audio" -reopened || status=1

  # The same from each VST3 plug-in's own saved state alone: without
  # Ardour's copies of the parameters, which it would set after the state.
  if [[ $format == vst3 ]]; then
    "$python" "$signals" forget "$session/$name.ardour"
    ardour "$dir/from-state.log" "$here/ardour_render.lua" "$session" "$name" "$rate" \
      "$plugin_type" "$dir/plan.txt" "$length" from-state || status=1
    "$python" "$signals" check "$dir" "$audio" -from-state || status=1
  fi
done

if [[ $status -ne 0 ]]; then
  echo "ardour: FAIL"
  exit 1
fi
echo "ardour: PASS"
