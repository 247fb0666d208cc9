#!/usr/bin/env bash
# make test-win32, test-win64: the Windows build's tests under Wine. Where
# this machine cannot execute 32-bit x86 programs, the win32 build runs only
# the checks that execute nothing (the DLL's tables, size and version
# resource, the release archive's contents and sums) and says, in a line
# that cannot be missed, what was not run and why. Where they run, one
# line says how: natively, or under emulation, where only the tests that
# prove the module run. Where 32-bit programs
# run in the i386 root, its Wine is stopped at the end, and with it every
# mount the run made.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh

preset=${1:?usage: test-windows.sh win32|win64}
if [ "$preset" = win32 ] && ! kolvane_x86_runs; then
  ctest --preset win32 --label-exclude wine --no-tests=error
  tools/not-run.sh win32
  exit 0
fi
selection=()
if [ "$preset" = win32 ]; then
  trap 'tools/i386-root.sh stop; tools/i386-emulation.sh stop' EXIT
  if kolvane_x86_emulated; then
    # Slower: only the tests that prove the module run (label x86-proof);
    # the tools share their source with win64's.
    echo "$(kolvane_x86_path_line); the tests that prove the module run, the tools' tests are left to win64"
    selection=(--label-regex x86-proof)
  else
    kolvane_x86_path_line
  fi
fi
tools/wine-ready.sh "$preset"
ctest --preset "$preset" "${selection[@]}"
