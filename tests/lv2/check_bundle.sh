#!/usr/bin/env bash
# What hosts see of the bundle before any plug-in runs: the .ttl files pass
# lv2_validate, lv2info describes each plug-in without an error or warning
# (it exits 0 on some errors, so its output is read), the shared object is
# x86-64 and exports lv2_descriptor alone, an installed copy is found, and
# a host that connects audio and control ports alone (lv2apply) runs each
# plug-in: any other port must be optional.
#
#   check_bundle.sh BUNDLE LV2_PATH_DIR BUILD_DIR INSTALL_PREFIX
#
# LV2_PATH_DIR holds the bundle alone; BUILD_DIR is the tree cmake installs.
set -euo pipefail
bundle=$1 lv2_path=$2 build_dir=$3 prefix=$4
uris=(https://tonevolt.invalid/lv2/tonevolt-cv https://tonevolt.invalid/lv2/tonevolt-audio
  https://tonevolt.invalid/lv2/tonevolt-tracker-cv https://tonevolt.invalid/lv2/tonevolt-tracker-audio)
names=("Tonevolt (CV output)" "Tonevolt (audio output)" "Tonevolt Tracker (CV output)"
  "Tonevolt Tracker (audio output)")
outputs=("CV" "Audio" "CV" "Audio")
port_counts=(6 6 12 12)
plain_symbols="input pitch cutoff octave scale order"
tracker_symbols="$plain_symbols lowest gate threshold hold latency position"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ------------------------------------------------------------ lv2_validate
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
summary=$(lv2_validate "$bundle/manifest.ttl" "$bundle/tonevolt.ttl" 2>"$errors") ||
  fail "lv2_validate: $summary $(cat "$errors")"
echo "lv2_validate: $summary"
[[ "$summary" =~ ^Found\ 0\ errors\ among ]] || fail "lv2_validate: $summary"
# sord_validate names the schema files it does not read; anything else counts.
findings=$(grep -v '^Skipping file ' "$errors" || true)
[[ -z "$findings" ]] || fail "lv2_validate reported: $findings"

# ---------------------------------------------------------------- lv2info
check_lv2info() {
  local lv2_path=$1 uri=$2 name=$3 output_class=$4 port_count=$5
  local out
  out=$(LV2_PATH="$lv2_path" lv2info "$uri" 2>"$errors") || fail "lv2info $uri exited non-zero"
  if [[ -s "$errors" ]]; then fail "lv2info $uri wrote to stderr: $(cat "$errors")"; fi
  if grep -qi 'error\|warning' <<<"$out"; then fail "lv2info $uri reported: $out"; fi
  grep -q "^$uri\$" <<<"$out" || fail "lv2info does not describe $uri: $out"
  grep -Eq "^[[:space:]]*Name:[[:space:]]+$(sed 's/[()]/\\&/g' <<<"$name")\$" <<<"$out" ||
    fail "lv2info $uri: name is not $name: $out"
  grep -Eq "^[[:space:]]*Class:[[:space:]]+Converter" <<<"$out" ||
    fail "lv2info $uri: class is not Converter: $out"
  grep -Eq "Binary:[[:space:]]+file://.*/tonevolt.lv2/tonevolt.so" <<<"$out" ||
    fail "lv2info $uri: no binary: $out"
  local ports
  ports=$(grep -Ec '^[[:space:]]*Port [0-9]+:' <<<"$out")
  [[ "$ports" == "$port_count" ]] || fail "lv2info $uri: $ports ports: $out"
  local symbol symbols=$plain_symbols
  [[ "$port_count" == 6 ]] || symbols=$tracker_symbols
  for symbol in $symbols; do
    grep -Eq "^[[:space:]]*Symbol:[[:space:]]+$symbol\$" <<<"$out" ||
      fail "lv2info $uri: no port $symbol"
  done
  grep -Eq "lv2core#${output_class}Port" <<<"$out" || fail "lv2info $uri: no ${output_class} port"
  echo "lv2info $uri: $name, Converter, $port_count ports, no error"
}

for k in "${!uris[@]}"; do
  check_lv2info "$lv2_path:/usr/lib/lv2" "${uris[$k]}" "${names[$k]}" "${outputs[$k]}" \
    "${port_counts[$k]}"
done

# ---------------------------------------------------------------- lv2apply
tone=$(mktemp --suffix=.wav) rendered=$(mktemp --suffix=.wav)
trap 'rm -f "$errors" "$tone" "$rendered"' EXIT
# 0.1 s of A4 at 44100 Hz, 16-bit mono.
python3 - "$tone" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<h", int(16000 * math.sin(2 * math.pi * 440 * i / 44100)))
                           for i in range(4410)))
PY
for k in "${!uris[@]}"; do
  [[ "${outputs[$k]}" == Audio ]] || continue # lv2apply takes audio ports alone
  LV2_PATH="$lv2_path" lv2apply -i "$tone" -o "$rendered" "${uris[$k]}" 2>"$errors" ||
    fail "lv2apply ${uris[$k]}: $(cat "$errors")"
  echo "lv2apply ${uris[$k]}: ran"
done

# ---------------------------------------------------------------- exports
library=$bundle/tonevolt.so
header=$(readelf -h "$library")
grep -Eq 'Class:[[:space:]]+ELF64$' <<<"$header" || fail "$library is not ELF64"
grep -Eq 'Machine:[[:space:]]+Advanced Micro Devices X86-64$' <<<"$header" ||
  fail "$library is not x86-64"
defined=$(readelf --dyn-syms -W "$library" |
  awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $8 != "" { print $8 }' | sort -u)
echo "defined dynamic symbols: ${defined//$'\n'/ }"
[[ "$defined" == "lv2_descriptor" ]] || fail "$library exports more than lv2_descriptor: $defined"

# ---------------------------------------------------------------- install
rm -rf "$prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
installed=$prefix/lib/lv2
for file in manifest.ttl tonevolt.ttl tonevolt.so; do
  [[ -f "$installed/tonevolt.lv2/$file" ]] || fail "cmake --install left out $file"
done
listed=$(LV2_PATH="$installed" lv2ls)
for uri in "${uris[@]}"; do
  grep -qx "$uri" <<<"$listed" || fail "lv2ls does not find the installed $uri: $listed"
done
for k in "${!uris[@]}"; do
  check_lv2info "$installed:/usr/lib/lv2" "${uris[$k]}" "${names[$k]}" "${outputs[$k]}" \
    "${port_counts[$k]}" >/dev/null
done
echo "cmake --install --prefix $prefix: all ${#uris[@]} plug-ins found in $installed"
echo "OK"
