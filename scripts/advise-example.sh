#!/usr/bin/env bash
# The advise example of docs/choosing-settings.md, made again: a clarinet phrase
# (E3 G3 A3 C4 B3 A3) rendered by fluidsynth from the GM soundfont at 48 kHz, then
# tonevolt advise on it, its plot into docs/advise.png.
#
#   scripts/advise-example.sh            after the linux-x64 build (or TONEVOLT=path)
set -euo pipefail
cd "$(dirname "$0")/.."
tonevolt=${TONEVOLT:-build/linux-x64/tonevolt}
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
for need in "$tonevolt" "$soundfont"; do
  [ -e "$need" ] || { echo "advise-example: $need is missing (build first; scripts/deps.sh test)" >&2; exit 1; }
done
tonevolt=$(realpath "$tonevolt")
command -v fluidsynth >/dev/null || { echo "advise-example: no fluidsynth (scripts/deps.sh test)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A type 0 MIDI file at 960 ticks a second: program 71 (clarinet), then each
# note held for its time (two-byte lengths), legato.
{
  printf '\x00\xc0\x47'
  for note in '\x34 \x84\x40' '\x37 \x84\x40' '\x39 \x84\x40' '\x3c \x86\x60' '\x3b \x83\x60' \
              '\x39 \x87\x40'; do
    key=${note%% *} length=${note#* }
    printf "\\x00\\x90${key}\\x64${length}\\x80${key}\\x00"
  done
  printf '\x00\xff\x2f\x00'
} >"$work/track"
size=$(stat -c %s "$work/track")
{
  printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xe0MTrk\x00\x00\x00'
  printf "\\x$(printf %02x "$size")"
  cat "$work/track"
} >"$work/phrase.mid"
fluidsynth -ni -g 0.6 -r 48000 -F "$work/clarinet_phrase.wav" "$soundfont" "$work/phrase.mid" >/dev/null
cd "$work"
"$tonevolt" advise clarinet_phrase.wav --plot "$OLDPWD/docs/advise.png"
