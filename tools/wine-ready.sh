#!/usr/bin/env bash
# Makes Wine ready for tests: creates the prefix once (about 20 s on a fresh
# machine, about 6 s for the 64-bit loader's own prefix), then starts the
# wineserver and Wine's own background services here, with no pipes of
# ours open. Otherwise the first test would start them, they would inherit
# ctest's output pipe, and ctest would wait for them to close it.
#
# wine-ready.sh [win32|win64]: the Wine that build's programs run with (both
# without an argument). Where 32-bit programs run in the i386 root, the
# win32 build's Wine is the root's: its wineserver lives in a private mount
# namespace until `tools/i386-root.sh stop` ends it, at the end of the run.
# Under emulation (tools/i386-emulation.sh) the win32 build's prefix is made
# and served by the native 64-bit Wine.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
preset=${1:-}
kolvane_wine_select

# The prefix once, then its wineserver, kept for 10 minutes after its last
# program or until stopped, and Wine's services.
ready() { # prefix as this machine sees it, prefix as shown, wineserver, then the loader and what runs it...
  local prefix=$1 shown=$2 server=$3
  shift 3
  if [ ! -f "$prefix/system.reg" ]; then
    echo "Creating the Wine prefix $shown (once)..."
    # To a file, not a pipe: the wineserver it starts would hold a pipe open.
    log=$(mktemp)
    if ! "$@" wineboot --init </dev/null >"$log" 2>&1; then
      echo "wine-ready.sh: wineboot could not create the prefix $shown:" >&2
      tail -n 5 "$log" >&2
      rm -f "$log"
      exit 1
    fi
    rm -f "$log"
    # The server wineboot started ends with its last program; then ours starts.
    "$server" -w </dev/null >/dev/null 2>&1 || true
  fi
  "$server" --persistent=600 </dev/null >/dev/null 2>&1 || true
  "$@" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The server of the root's prefix, run in the root.
root_wineserver() { "$KOLVANE_ROOT/tools/i386-root.sh" run "$KOLVANE_ROOT_WINESERVER" "$@"; }

if [ "$preset" != win32 ] || { ! kolvane_wine32_in_root && ! kolvane_x86_emulated; }; then
  ready "${WINEPREFIX:-$HOME/.wine}" "${WINEPREFIX:-$HOME/.wine}" wineserver "$KOLVANE_WINE"
fi
# Under emulation with the machine's wine32:i386, the 32-bit programs share
# a prefix with the native 64-bit Wine, made by it: its wineserver and
# services run natively, and only the programs themselves are emulated.
# wineboot runs with i386 registered, so that it can set up the prefix's
# 32-bit half (syswow64) too; the project's own prefix made before without
# it is made again, a prefix the caller named is left alone.
if [ "$preset" != win64 ] && kolvane_x86_emulated && ! kolvane_wine32_in_root; then
  (
    kolvane_wine32_select
    if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      if [ "$WINEPREFIX" != "$KOLVANE_OWN_EMULATED_WINEPREFIX" ]; then
        echo "wine-ready.sh: the Wine prefix $WINEPREFIX has no 32-bit half (syswow64), which the emulated 32-bit programs need; name another (KOLVANE_EMULATED_WINEPREFIX)" >&2
        exit 1
      fi
      echo "The Wine prefix $WINEPREFIX has no 32-bit half (syswow64): making it again..."
      WINEPREFIX=$WINEPREFIX "$KOLVANE_WINE64_SERVER" -k </dev/null >/dev/null 2>&1 || true
      rm -rf "${WINEPREFIX:?}"
    fi
    ready "$WINEPREFIX" "$WINEPREFIX (native 64-bit Wine, for the emulated 32-bit programs)" \
      "$KOLVANE_WINE64_SERVER" "$KOLVANE_ROOT/tools/i386-emulation.sh" run env WINELOADER="$KOLVANE_WINE64_LOADER" "$KOLVANE_WINE64_LOADER"
  )
fi
if [ "$preset" != win64 ] && kolvane_x86_runs && kolvane_wine32_in_root; then
  ready "$KOLVANE_I386_ROOT$KOLVANE_ROOT_WINEPREFIX" \
    "$KOLVANE_ROOT_WINEPREFIX in the i386 root $(kolvane_shown_path "$KOLVANE_I386_ROOT")" \
    root_wineserver "$KOLVANE_ROOT/tools/i386-root.sh" run "$KOLVANE_ROOT_WINE32_LOADER"
fi
