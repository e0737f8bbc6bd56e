#!/usr/bin/env bash
# Installs the Debian packages the build, tests, tools and benchmarks need,
# and only those that are missing. Safe to run again.
set -euo pipefail

packages=(
  cmake make file
  g++-multilib                      # Linux i386 build
  g++-mingw-w64-i686 binutils-mingw-w64-i686  # Win32 DLL
  wine wine32:i386                  # runs the Win32 tests
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  libsndfile1-dev:i386 libcli11-dev # audio files and options for the command-line tool
  gnuplot-nox                       # plots
  valgrind libc6-dbg:i386           # memcheck of the i386 tests
  clang libclang-rt-14-dev          # fuzzer and sanitizer runtimes for i386
  alsa-utils                        # real recordings for the tool's tests
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "deps: adding the i386 architecture (dpkg --add-architecture i386)"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages present"
  exit 0
fi
echo "deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
echo "deps: installed ${#missing[@]} packages"
