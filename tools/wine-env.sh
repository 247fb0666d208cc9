# Sourced by the tools that run Windows programs: decides, once per run,
# whether this machine can execute 32-bit x86 programs, and picks the Wine
# loader and prefix accordingly.
#
# Some kernels cannot execute i386 programs at all ("Exec format error").
# Debian's `wine` wrapper then fails even for 64-bit programs, because it
# always starts the 32-bit loader when wine32 is installed; the 64-bit
# loader still runs them, in a prefix of its own.
#
# KOLVANE_NO_32BIT=1 makes every tool behave as on such a machine.
# KOLVANE_X86_RUNS ("yes" or "no: why") carries the decision to child
# processes, so the probe runs once per `make` and not once per test.

KOLVANE_WINE32_LOADER=/usr/lib/wine/wine
KOLVANE_WINE64_LOADER=/usr/lib/wine/wine64

# Why 32-bit programs cannot run here; prints nothing when they can. The
# probe runs the 32-bit Wine loader itself: only running one tells.
kolvane_x86_blocker() {
  if [ ! -x "$KOLVANE_WINE32_LOADER" ]; then
    echo "the 32-bit Wine loader ($KOLVANE_WINE32_LOADER, package wine32:i386) is not installed"
  elif ! "$KOLVANE_WINE32_LOADER" --version >/dev/null 2>&1; then
    echo "this machine cannot execute 32-bit x86 programs"
  fi
}

# Succeeds when 32-bit x86 programs run here. Otherwise sets KOLVANE_X86_WHY
# to the reason. Exports the answer as KOLVANE_X86_RUNS ("yes" or "no: why").
kolvane_x86_runs() {
  local answer=${KOLVANE_X86_RUNS:-} why
  if [ "${KOLVANE_NO_32BIT:-}" = 1 ]; then
    answer="no: KOLVANE_NO_32BIT=1 is set"
  elif [ -z "$answer" ]; then
    why=$(kolvane_x86_blocker)
    answer=${why:+no: $why}
  fi
  export KOLVANE_X86_RUNS=${answer:-yes}
  KOLVANE_X86_WHY=
  [ "$KOLVANE_X86_RUNS" = yes ] && return 0
  KOLVANE_X86_WHY=${KOLVANE_X86_RUNS#no: }
  return 1
}

# Sets KOLVANE_WINE to the loader that runs Windows programs here. Where
# 32-bit programs run it is Debian's wrapper in the usual prefix, as for
# any Wine user; elsewhere the 64-bit loader, in a prefix made for it
# unless WINEPREFIX names one.
kolvane_wine_select() {
  export WINEDEBUG=${WINEDEBUG:--all}
  if kolvane_x86_runs; then
    KOLVANE_WINE=wine
  else
    KOLVANE_WINE=$KOLVANE_WINE64_LOADER
    export WINELOADER=$KOLVANE_WINE64_LOADER
    export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-kolvane64}
  fi
}

# Succeeds when the file is a 32-bit x86 Windows program (PE machine 0x14c).
kolvane_is_pe32_x86() {
  [ -f "$1" ] || return 1
  local header machine
  header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  [ -n "$header" ] || return 1
  machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  [ "$machine" = 014c ]
}
