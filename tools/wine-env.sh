# Sourced by the tools that run Windows programs: decides, once per run,
# whether this machine can execute 32-bit x86 programs, and picks the Wine
# loader and prefix accordingly.
#
# 32-bit programs run with this machine's own wine32:i386 where apt installs
# it, else in the i386 root that setup makes where apt cannot
# (tools/i386-root.sh). KOLVANE_WINE32_ROOT=1 takes the root even where
# wine32:i386 is installed, to try that path on any machine that executes
# 32-bit programs.
#
# Some kernels cannot execute i386 programs at all ("Exec format error").
# Debian's `wine` wrapper then fails even for 64-bit programs, because it
# always starts the 32-bit loader when wine32 is installed; the 64-bit
# loader still runs them, in a prefix of its own.
#
# KOLVANE_NO_32BIT=1 makes every tool behave as on such a machine.
# KOLVANE_X86_RUNS ("yes" or "no: why") carries the decision to child
# processes, so the probe runs once per `make` and not once per test.

KOLVANE_WINE32_LOADER=${KOLVANE_WINE32_LOADER:-/usr/lib/wine/wine}
KOLVANE_WINE64_LOADER=/usr/lib/wine/wine64

KOLVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Where setup records why wine32:i386 is missing, when it tried and failed.
KOLVANE_WINE32_FAILURE=${KOLVANE_SETUP_STATE:-$KOLVANE_ROOT/build/.setup}/wine32-not-installed

# The i386 root, under build/ so that `make clean` removes it; the file that
# says it is complete; and its Wine: the loader, the server, the prefix.
KOLVANE_I386_ROOT=${KOLVANE_I386_ROOT:-$KOLVANE_ROOT/build/i386-root}
KOLVANE_I386_ROOT_READY=$KOLVANE_I386_ROOT/.kolvane-ready
KOLVANE_ROOT_WINE32_LOADER=/usr/lib/wine/wine
KOLVANE_ROOT_WINESERVER=/usr/lib/wine/wineserver32
KOLVANE_ROOT_WINEPREFIX=/root/.wine-kolvane32

# A path as a user reads it: relative to the source tree when inside it.
kolvane_shown_path() {
  case $1 in
    "$KOLVANE_ROOT"/*) echo "${1#"$KOLVANE_ROOT"/}" ;;
    *) echo "$1" ;;
  esac
}

kolvane_i386_root_ready() { [ -f "$KOLVANE_I386_ROOT_READY" ]; }

# Succeeds when 32-bit programs are to run in the i386 root: it is made, and
# this machine's own wine32:i386 is not installed (or KOLVANE_WINE32_ROOT=1).
kolvane_wine32_in_root() {
  kolvane_i386_root_ready && { [ "${KOLVANE_WINE32_ROOT:-}" = 1 ] || [ ! -x "$KOLVANE_WINE32_LOADER" ]; }
}

# Why this machine cannot execute i386 programs; prints nothing when it can.
# Needs no package that a fresh machine lacks: binutils (as, ld) makes a
# tiny i386 program that exits 0, and running it tells.
# KOLVANE_X86_PROBE names another program to run instead (for tests).
kolvane_i386_exec_blocker() {
  local probe=${KOLVANE_X86_PROBE:-} dir status out
  dir=$(mktemp -d) || return 1
  if [ -z "$probe" ]; then
    if ! command -v as >/dev/null || ! command -v ld >/dev/null; then
      rm -rf "$dir"
      return 0 # cannot tell without binutils; the Wine loader's own run decides
    fi
    probe=$dir/probe
    printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/probe.s"
    if ! as --32 -o "$dir/probe.o" "$dir/probe.s" 2>/dev/null || ! ld -m elf_i386 -o "$probe" "$dir/probe.o" 2>/dev/null; then
      rm -rf "$dir"
      return 0
    fi
  fi
  out=$("$probe" 2>&1 </dev/null)
  status=$?
  rm -rf "$dir"
  if [ $status -ne 0 ]; then
    out=$(printf '%s' "$out" | tr '\n' ' ' | sed 's/^.*: //; s/ *$//')
    echo "this machine cannot execute 32-bit x86 programs (${out:-an i386 program exits $status})"
  fi
}

# Records why wine32:i386 is missing ("" clears it).
kolvane_record_wine32_failure() {
  if [ -z "$1" ]; then
    rm -f "$KOLVANE_WINE32_FAILURE"
  else
    mkdir -p "$(dirname "$KOLVANE_WINE32_FAILURE")" && printf '%s\n' "$1" >"$KOLVANE_WINE32_FAILURE"
  fi
}

# Why 32-bit programs cannot run here; prints nothing when they can.
kolvane_x86_blocker() {
  local why
  why=$(kolvane_i386_exec_blocker)
  if [ -n "$why" ]; then
    echo "$why"
  elif kolvane_wine32_in_root; then
    if ! "$KOLVANE_ROOT/tools/i386-root.sh" run "$KOLVANE_ROOT_WINE32_LOADER" --version </dev/null >/dev/null 2>&1; then
      echo "the 32-bit Wine loader of the i386 root ($(kolvane_shown_path "$KOLVANE_I386_ROOT")) does not start$(
        [ "$(id -u)" -eq 0 ] || echo " for a user other than root")"
    fi
  elif [ "${KOLVANE_WINE32_ROOT:-}" = 1 ] || [ ! -x "$KOLVANE_WINE32_LOADER" ]; then
    if [ -s "$KOLVANE_WINE32_FAILURE" ]; then
      head -n 1 "$KOLVANE_WINE32_FAILURE"
    elif [ "${KOLVANE_WINE32_ROOT:-}" = 1 ]; then
      echo "KOLVANE_WINE32_ROOT=1 is set and the i386 root ($(kolvane_shown_path "$KOLVANE_I386_ROOT")) is not made"
    else
      echo "the 32-bit Wine loader ($KOLVANE_WINE32_LOADER, package wine32:i386) is not installed"
    fi
  elif ! "$KOLVANE_WINE32_LOADER" --version >/dev/null 2>&1; then
    echo "this machine cannot execute 32-bit x86 programs (the 32-bit Wine loader does not start)"
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

# Sets KOLVANE_WINE to the loader that runs Windows programs on this machine
# itself. Where its own wine32:i386 runs 32-bit programs it is Debian's
# wrapper in the usual prefix, as for any Wine user; elsewhere the 64-bit
# loader, in a prefix made for it unless WINEPREFIX names one (32-bit
# programs then run in the i386 root, where there is one).
kolvane_wine_select() {
  export WINEDEBUG=${WINEDEBUG:--all}
  if kolvane_x86_runs && ! kolvane_wine32_in_root; then
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
