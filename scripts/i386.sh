#!/usr/bin/env bash
# Whether this machine runs i386 programs, and how.
#
#   scripts/i386.sh probe   prints "native", "emulated" or "none" and exits 0,
#                           0 or 1: runs a tiny i386 program, as the kernel
#                           runs it now
#   scripts/i386.sh setup   makes i386 programs run: natively where the kernel
#                           can; elsewhere through qemu-user, registered for
#                           i386 ELF in binfmt_misc (as root; otherwise it says
#                           what to run)
#
# TONEVOLT_I386=emulated makes setup take the emulated path even where the
# kernel runs i386 natively, so that both paths can be tried on one machine.
# The registration is machine-wide (every i386 program, Wine included, then
# runs under qemu-i386); a later setup without the variable takes it back
# where the kernel can run i386 itself.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
qemu=/usr/bin/qemu-i386
# i386 ELF executables, as qemu's own binfmt configuration matches them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A 93-byte static i386 program that exits with 42: mov eax,1; mov ebx,42;
# int 0x80. It needs no compiler, library or loader.
probe_runs() {
  local program
  program=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
        `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'`
        `'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'`
        `'\x00\x00\x00\x00'`
        `'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'`
        `'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'`
        `'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$program"
  chmod +x "$program"
  local status=0
  "$program" 2>/dev/null || status=$?
  rm -f "$program"
  [ "$status" -eq 42 ]
}

entry_enabled() { [ -r "$entry" ] && head -n 1 "$entry" | grep -qx enabled; }

probe() {
  if ! probe_runs; then
    echo none
    return 1
  fi
  if entry_enabled; then echo emulated; else echo native; fi
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    sudo "$@"
  else
    return 1
  fi
}

register() {
  [ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ -e "$entry" ]; then
    as_root sh -c "echo 1 >$entry"
  else
    as_root sh -c "printf '%s' ':qemu-i386:M::$magic:$mask:$qemu:' >$binfmt/register"
  fi
}

explain_by_hand() {
  cat >&2 <<EOF
i386: as root, run:
  apt-get install qemu-user
  mount -t binfmt_misc binfmt_misc $binfmt   # if $binfmt/register is missing
  printf '%s' ':qemu-i386:M::$magic:$mask:$qemu:' >$binfmt/register
EOF
}

setup() {
  # What the kernel does alone: with our registration switched off.
  if entry_enabled; then as_root sh -c "echo 0 >$entry" || true; fi
  local native=no reason
  if ! entry_enabled && probe_runs; then native=yes; fi
  if [ "${TONEVOLT_I386:-}" = emulated ]; then
    reason="TONEVOLT_I386=emulated asks for it"
  elif [ "$native" = yes ]; then
    echo "i386: the kernel runs i386 programs natively"
    return 0
  else
    reason="this kernel does not run i386 programs (IA-32 emulation is off, or it is not x86)"
  fi
  if [ ! -x "$qemu" ]; then
    echo "i386: installing qemu-user: $reason"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user >/dev/null ||
      { echo "i386: could not install qemu-user" >&2; explain_by_hand; return 1; }
  fi
  if ! register 2>/dev/null; then
    echo "i386: $reason, and registering qemu-i386 in binfmt_misc needs root" >&2
    explain_by_hand
    return 1
  fi
  if ! probe_runs; then
    echo "i386: registered qemu-i386 for i386 ELF, but the probe still does not run" >&2
    return 1
  fi
  echo "i386: $reason; qemu-i386 now runs i386 programs (registered for i386 ELF in binfmt_misc)"
}

case "${1:-}" in
  probe) probe ;;
  setup) setup ;;
  *) echo "usage: $0 probe|setup" >&2; exit 2 ;;
esac
