#!/usr/bin/env bash
# Makes Wine ready for tests: creates the prefix once (about 20 s on a fresh
# machine, about 6 s for the 64-bit loader's own prefix), then starts the
# wineserver and Wine's own background services here, with no pipes of
# ours open. Otherwise the first test would start them, they would inherit
# ctest's output pipe, and ctest would wait for them to close it.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
kolvane_wine_select
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "Creating the Wine prefix ${WINEPREFIX:-$HOME/.wine} (once)..."
  # To a file, not a pipe: the wineserver it starts would hold a pipe open.
  log=$(mktemp)
  if ! "$KOLVANE_WINE" wineboot --init </dev/null >"$log" 2>&1; then
    echo "wine-ready.sh: wineboot could not create the prefix ${WINEPREFIX:-$HOME/.wine}:" >&2
    tail -n 5 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
fi
wineserver --persistent=600 </dev/null >/dev/null 2>&1 || true
"$KOLVANE_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
