#!/usr/bin/env bash
# Makes Wine ready for tests: creates the prefix once (about 20 s on a fresh
# machine) and keeps one wineserver alive so each test start is quick.
set -euo pipefail
export WINEDEBUG=-all
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "Creating the Wine prefix (once)..."
  wineboot --init >/dev/null 2>&1
fi
wineserver --persistent=300 >/dev/null 2>&1 || true
