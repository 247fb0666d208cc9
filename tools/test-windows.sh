#!/usr/bin/env bash
# make test-win32, test-win64: the Windows build's tests under Wine. Where
# this machine cannot execute 32-bit x86 programs, the win32 build runs only
# the checks that execute nothing (the DLL's tables, size and version
# resource, the release archive's contents and sums) and says, in a line
# that cannot be missed, what was not run and why.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh

preset=${1:?usage: test-windows.sh win32|win64}
if [ "$preset" = win32 ] && ! kolvane_x86_runs; then
  ctest --preset win32 --label-exclude wine --no-tests=error
  tools/not-run.sh win32
  exit 0
fi
tools/wine-ready.sh
ctest --preset "$preset"
