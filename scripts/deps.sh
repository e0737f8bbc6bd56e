#!/usr/bin/env bash
# Installs the Debian packages a job needs, and only those that are missing.
# Safe to run again.
#
#   scripts/deps.sh tool        the native module and the command-line tool
#   scripts/deps.sh tool test   ... and what the tests need
#   scripts/deps.sh             every group
#
# A package belongs to the first group that needs it; add new ones there. A
# new group is an array below and its name in `groups`.
#
# The i386 group also makes sure i386 programs run: where the kernel runs
# them natively nothing more is needed; where it does not (IA-32 emulation
# off, or not an x86 machine), qemu-user runs them, registered for i386 ELF
# in binfmt_misc. TONEVOLT_I386=emulated takes that path on any machine (see
# scripts/i386.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

groups=(tool i386 win32 test lv2 plugins bench)

# Building the native module and the tool, and running it.
tool=(
  cmake make g++                    # the native build
  libsndfile1-dev                   # audio files for the command-line tool
  libsoxr-dev libfftw3-dev          # its analysis: resampling, spectra
  gnuplot-nox                       # its plots
)
# The 32-bit module for Linux i386, its suite, and the same tool built for
# i386 to check the native one against.
i386=(
  g++-multilib
  libsndfile1-dev:i386 libsoxr-dev:i386 libfftw3-dev:i386
  libgtest-dev:i386 libgmock-dev:i386
  libc6-dbg:i386                    # memcheck of the i386 suite, where i386 runs natively
)
# The Win32 DLL, and Wine to run its tests.
win32=(
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
)
# The test suites and their reliability stages.
test=(
  file                              # library format checks
  libgtest-dev libgmock-dev         # the native suites
  valgrind libc6-dbg                # memcheck
  clang libclang-rt-14-dev          # fuzzer and sanitizer runtimes
  alsa-utils                        # real recordings for the tool's tests
  fluidsynth fluid-soundfont-gm     # real instrument notes for the tool's tests
  espeak-ng                         # speech for the tool's tests
)
# The LV2 bundle for x86-64 hosts, its test host and its live test.
lv2=(
  pkgconf lv2-dev
  liblilv-dev lilv-utils sordi      # test host, lv2info, lv2_validate's sord_validate
  jackd2 libjack-jackd2-dev jalv
)
# The CLAP and VST3 plug-ins for Linux and Windows x86-64: the interface
# headers, the Windows compiler, wine64 for the Windows builds' tests, and a
# DAW to load the Linux VST3 in.
plugins=(
  dpf-source                        # CLAP headers, VST3 C interface headers
  g++-mingw-w64-x86-64              # the Windows x86-64 builds
  wine64                            # their tests
  ardour                            # a DAW (ardour7-lua, headless) for the Linux VST3's test
)
# Google Benchmark; the full builds configure the benchmarks too. The
# accuracy benchmark's reference tracker and its scoring.
bench=(
  libbenchmark-dev libbenchmark-dev:i386
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

if [[ " ${packages[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "deps: adding the i386 architecture (dpkg --add-architecture i386)"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

# Installed as asked: a name without an architecture means the machine's own
# (or all), never just the i386 one that another group brought.
native_arch=$(dpkg --print-architecture)
installed() {
  local name=${1%%:*} arch=${1#*:}
  [ "$arch" != "$1" ] || arch=$native_arch
  dpkg-query -W -f='${Status} ${Architecture}\n' "$name" 2>/dev/null |
    grep -Eq "^install ok installed ($arch|all)\$"
}
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages present (${wanted[*]})"
else
  echo "deps: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
  echo "deps: installed ${#missing[@]} packages"
fi

case " ${wanted[*]} " in
  *" i386 "*) scripts/i386.sh setup ;;
esac
