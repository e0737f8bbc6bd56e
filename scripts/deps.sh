#!/usr/bin/env bash
# Installs the Debian packages a job needs, and only those that are missing.
# Safe to run again.
#
#   scripts/deps.sh tool        the Linux module and the command-line tool
#   scripts/deps.sh tool test   ... and what the tests need
#   scripts/deps.sh             every group
#
# A package belongs to the first group that needs it; add new ones there. A
# new group is an array below and its name in `groups`.
set -euo pipefail

groups=(tool win32 test lv2 bench)

# Building the Linux i386 module and the tool, and running it.
tool=(
  cmake make g++-multilib           # Linux i386 build
  libsndfile1-dev:i386              # audio files for the command-line tool
  libcli11-dev                      # its option parser (headers only)
  libsoxr-dev:i386 libaubio-dev:i386  # its analysis: resampling, pitch
  gnuplot-nox                       # its plots
)
# The Win32 DLL, and Wine to run its tests.
win32=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
)
# The test suites and their reliability stages.
test=(
  file                              # library format checks
  libgtest-dev:i386 libgmock-dev:i386
  valgrind libc6-dbg:i386           # memcheck of the i386 tests
  clang libclang-rt-14-dev          # fuzzer and sanitizer runtimes for i386
  alsa-utils                        # real recordings for the tool's tests
  fluidsynth fluid-soundfont-gm     # real instrument notes for the tool's tests
  espeak-ng                         # speech for the tool's tests
  libgtest-dev:amd64                # the x86-64 suites (core, LV2)
)
# The LV2 bundle for x86-64 hosts, its test host and its live test.
lv2=(
  pkgconf:amd64 lv2-dev
  liblilv-dev lilv-utils sordi      # test host, lv2info, lv2_validate's sord_validate
  jackd2 libjack-jackd2-dev jalv
)
# Google Benchmark; the full build configures the benchmarks too. The
# accuracy benchmark's reference tracker and its scoring.
bench=(
  libbenchmark-dev:i386 libbenchmark-dev:amd64
  aubio-tools python3-numpy
)

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${groups[@]}")
packages=()
for group in "${wanted[@]}"; do
  case " ${groups[*]} " in
    *" $group "*) ;;
    *) echo "deps: no group '$group' (groups: ${groups[*]})" >&2; exit 2 ;;
  esac
  declare -n members=$group
  packages+=("${members[@]}")
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "deps: adding the i386 architecture (dpkg --add-architecture i386)"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages present (${wanted[*]})"
  exit 0
fi
echo "deps: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
echo "deps: installed ${#missing[@]} packages"
