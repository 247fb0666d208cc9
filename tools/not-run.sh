#!/usr/bin/env bash
# Prints, framed, what the win32 build did not run on this machine and why;
# prints nothing where 32-bit x86 programs run.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
kolvane_x86_runs && exit 0
line="${1:-win32}: kolvane.dll built and checked; its tests were NOT RUN: $KOLVANE_X86_WHY"
rule=$(printf '%*s' ${#line} '' | tr ' ' '=')
printf '\n%s\n%s\n%s\n\n' "$rule" "$line" "$rule"
