#!/usr/bin/env bash
# Runs a Windows program under Wine with the loader this machine can use:
# the crosscompiling emulator of the win32 and win64 builds, and what the
# Makefile's demo and bench targets run programs with.
# A 32-bit program runs in the i386 root where that is where 32-bit programs
# run here (tools/i386-root.sh), under user-mode emulation where the kernel
# cannot execute them (tools/i386-emulation.sh); where it can run in no way
# it exits 77 (CTest's skip code) with the reason, instead of a loader error.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if [ $# -eq 0 ]; then
  echo "usage: wine-run.sh PROGRAM [ARGUMENT...]" >&2
  exit 2
fi
kolvane_wine_select
if kolvane_is_pe32_x86 "$1"; then
  if [ -n "${KOLVANE_X86_WHY:-}" ]; then
    echo "wine-run.sh: $1 is a 32-bit x86 program and was NOT RUN: $KOLVANE_X86_WHY" >&2
    exit 77
  fi
  kolvane_wine32_select
  exec "${KOLVANE_WINE32_RUN[@]}" "$@"
fi
exec "$KOLVANE_WINE" "$@"
