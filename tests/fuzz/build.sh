#!/usr/bin/env bash
# Builds the fuzzer into OUT_DIR (default build/fuzz): Tonevolt.so from the
# module's own sources with ASan, UBSan and coverage, and tonevolt_fuzzer,
# which loads it by path and drives it through main as a host does. Uses
# clang's i386 runtimes (clang, libclang-rt-14-dev); the gcc presets do not
# build this.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build/fuzz}
mkdir -p "$out"

cxx=${CXX_FUZZ:-clang++}
common=(-m32 -std=c++17 -g -O1 -fno-omit-frame-pointer
        -msse2 -mfpmath=sse -frounding-math -ffp-contract=off
        -fno-sanitize-recover=all -Wall -Wextra)

# The module: a shared library, as hosts load it. Sanitizer runtime symbols
# come from the fuzzer binary, so no --no-undefined here.
"$cxx" "${common[@]}" -fsanitize=address,undefined,fuzzer-no-link -fPIC -shared \
  -fvisibility=hidden -fno-exceptions -I"$root/wb_sdk" -I"$root/module" \
  "$root/wb_sdk/WBModule_base.cpp" "$root/module/Module.cpp" \
  -Wl,--version-script="$root/wb_sdk/exports.map" -o "$out/Tonevolt.so"

# The host side knows the module's classes only from the header, without
# their type information, so it skips the dynamic-type check.
"$cxx" "${common[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize=vptr \
  -I"$root/wb_sdk" -I"$root/host" -I"$root/tests/support" \
  "$root/tests/fuzz/tonevolt_fuzzer.cpp" "$root/host/WBHost.cpp" -ldl \
  -o "$out/tonevolt_fuzzer"
