#!/usr/bin/env bash
# Makes Wine ready for tests: creates the prefix once (about 20 s on a fresh
# machine), then starts the wineserver and Wine's own background services
# here, with no pipes of ours open. Otherwise the first test would start
# them, they would inherit ctest's output pipe, and ctest would wait for
# them to close it.
set -euo pipefail
export WINEDEBUG=-all
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "Creating the Wine prefix (once)..."
  wineboot --init </dev/null >/dev/null 2>&1
fi
wineserver --persistent=600 </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
