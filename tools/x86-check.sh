#!/usr/bin/env bash
# Prints "yes" when this machine can execute 32-bit x86 programs (so the
# win32 build's tests run under Wine), else "no: " and why. `make` asks once
# per run and hands the answer to everything it starts (KOLVANE_X86_RUNS).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
# x86-check.sh --path: the one line that says how they run, where they do.
if [ "${1:-}" = --path ]; then
  if kolvane_x86_runs; then kolvane_x86_path_line; fi
  exit 0
fi
kolvane_x86_runs || true
echo "$KOLVANE_X86_RUNS"
