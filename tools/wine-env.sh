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
# There, i386 programs run under user-mode emulation: qemu-i386, registered
# in a binfmt_misc of the run's own (tools/i386-emulation.sh), with the
# machine's wine32:i386, or in the i386 root. The 64-bit Wine parts (the
# wineserver, Wine's services) run natively beside them, in a prefix of
# their own. Wine's 32-bit loader needs a qemu that honours
# MAP_FIXED_NOREPLACE: under one that does not (Debian 12's qemu 7.2), Wine
# splits its address-space reservation into some 65,000 emulated calls and
# each program takes about 90 s to start, instead of about 1 s. Setup takes
# the machine's qemu-i386-static where it passes that probe, and otherwise
# fetches Debian's qemu-user from the release's backports (or the release)
# into the build tree, without installing it (tools/i386-emulation.sh qemu).
#
# Emulation is on where the kernel cannot execute 32-bit programs.
# KOLVANE_EMULATE_32BIT=1 forces it even where the kernel can, to try the
# path on any machine; KOLVANE_EMULATE_32BIT=0 turns it off.
# KOLVANE_NO_32BIT=1 makes every tool behave as on a machine where 32-bit
# programs run in no way; it wins over KOLVANE_EMULATE_32BIT=1.
# KOLVANE_X86_RUNS ("yes", "emulated" or "no: why") carries the decision to
# child processes, so the probe runs once per `make` and not once per test.

KOLVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# What setup records and fetches: the reasons it could not install a part,
# the qemu it chose for emulation.
KOLVANE_SETUP_DIR=${KOLVANE_SETUP_STATE:-$KOLVANE_ROOT/build/.setup}

KOLVANE_WINE32_LOADER=${KOLVANE_WINE32_LOADER:-/usr/lib/wine/wine}
KOLVANE_WINE64_LOADER=${KOLVANE_WINE64_LOADER:-/usr/lib/wine/wine64}
KOLVANE_WINE64_SERVER=/usr/lib/wine/wineserver64
# Emulation: the qemu-i386 that setup chose (a link to it), the machine's
# own, where its binfmt_misc is mounted in the namespace, and the prefix
# that emulated 32-bit programs share with native 64-bit Wine.
KOLVANE_QEMU_I386=${KOLVANE_QEMU_I386:-$KOLVANE_SETUP_DIR/qemu-i386}
KOLVANE_MACHINE_QEMU_I386=${KOLVANE_MACHINE_QEMU_I386:-/usr/bin/qemu-i386-static}
KOLVANE_BINFMT_MOUNT=${KOLVANE_BINFMT_MOUNT:-/proc/sys/fs/binfmt_misc}
KOLVANE_OWN_EMULATED_WINEPREFIX=$HOME/.wine-kolvane-wow64
KOLVANE_EMULATED_WINEPREFIX=${KOLVANE_EMULATED_WINEPREFIX:-${WINEPREFIX:-$KOLVANE_OWN_EMULATED_WINEPREFIX}}

# Where setup records why wine32:i386 is missing, and why no usable qemu
# is, when it tried and failed.
KOLVANE_WINE32_FAILURE=$KOLVANE_SETUP_DIR/wine32-not-installed
KOLVANE_EMULATION_FAILURE=$KOLVANE_SETUP_DIR/emulation-not-installed

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

# The URI of this machine's own mirror for the release's main suite and
# main component, as apt has it from its sources: from the release files
# apt fetched, else (no index fetched yet) from the sources as written.
kolvane_own_mirror() { # codename
  local info uri
  for info in --release-info --no-release-info; do
    uri=$(apt-get indextargets "$info" --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(IDENTIFIER)' 2>/dev/null |
      awk -v codename="$1" '$2 == codename && $3 == "main" && $4 == "Packages" { print $1; exit }')
    if [ -n "$uri" ]; then
      echo "$uri"
      return 0
    fi
  done
}

kolvane_i386_root_ready() { [ -f "$KOLVANE_I386_ROOT_READY" ]; }

# Succeeds when 32-bit programs are to run in the i386 root: it is made, and
# this machine's own wine32:i386 is not installed (or KOLVANE_WINE32_ROOT=1).
kolvane_wine32_in_root() {
  kolvane_i386_root_ready && { [ "${KOLVANE_WINE32_ROOT:-}" = 1 ] || [ ! -x "$KOLVANE_WINE32_LOADER" ]; }
}

# Makes a tiny i386 program that exits 0, with binutils (as, ld), which a
# fresh machine has; fails where it cannot.
kolvane_make_i386_probe() { # file
  kolvane_assemble_i386 "$1" '.globl _start' '_start:' ' movl $1, %eax' ' xorl %ebx, %ebx' ' int $0x80'
}

# Assembles and links an i386 program from its source lines, with binutils;
# fails where it cannot.
kolvane_assemble_i386() { # file, source lines...
  local file=$1
  shift
  command -v as >/dev/null && command -v ld >/dev/null || return 1
  printf '%s\n' "$@" >"$file.s"
  as --32 -o "$file.o" "$file.s" 2>/dev/null && ld -m elf_i386 -o "$file" "$file.o" 2>/dev/null
}

# Why this machine cannot execute i386 programs; prints nothing when it can.
# Needs no package that a fresh machine lacks: running the probe tells.
# KOLVANE_X86_PROBE names another program to run instead (for tests).
kolvane_i386_exec_blocker() {
  local probe=${KOLVANE_X86_PROBE:-} dir status out
  dir=$(mktemp -d) || return 1
  if [ -z "$probe" ]; then
    probe=$dir/probe
    if ! kolvane_make_i386_probe "$probe"; then
      rm -rf "$dir"
      return 0 # cannot tell without binutils; the Wine loader's own run decides
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

# Emulation is on unless KOLVANE_EMULATE_32BIT=0 turns it off; =1 forces it
# where the kernel executes i386 programs itself.
kolvane_emulation_wanted() { [ "${KOLVANE_EMULATE_32BIT:-}" != 0 ]; }
kolvane_emulation_forced() { [ "${KOLVANE_EMULATE_32BIT:-}" = 1 ]; }

# What the NOT RUN line adds where the kernel cannot execute i386 programs
# and emulation is turned off.
KOLVANE_EMULATION_OFF="user-mode emulation is turned off (KOLVANE_EMULATE_32BIT=0)"

# Why i386 programs are not to run natively here: the kernel cannot, or
# else KOLVANE_EMULATE_32BIT=1 forces emulation. Nothing when they are.
kolvane_i386_native_blocker() {
  local why
  why=$(kolvane_i386_exec_blocker)
  if [ -z "$why" ] && kolvane_emulation_forced; then
    why="KOLVANE_EMULATE_32BIT=1 is set"
  fi
  [ -z "$why" ] || echo "$why"
}

# Makes a tiny i386 program that maps a page, then asks for the same page
# again with MAP_FIXED_NOREPLACE: it exits 0 where that fails with EEXIST,
# as Wine's 32-bit loader needs, and 1 where the request is taken as a mere
# hint (another address returned).
kolvane_make_noreplace_probe() { # file
  # mmap2 is system call 192; 0x32 = MAP_PRIVATE|MAP_ANONYMOUS|MAP_FIXED,
  # 0x100022 = MAP_FIXED_NOREPLACE|MAP_PRIVATE|MAP_ANONYMOUS; -17 = -EEXIST.
  kolvane_assemble_i386 "$1" '.globl _start' '_start:' \
    ' movl $192, %eax' ' movl $0x10000000, %ebx' ' movl $0x10000, %ecx' ' xorl %edx, %edx' \
    ' movl $0x32, %esi' ' movl $-1, %edi' ' xorl %ebp, %ebp' ' int $0x80' \
    ' cmpl $0x10000000, %eax' ' jne fail' \
    ' movl $192, %eax' ' movl $0x10000000, %ebx' ' movl $0x10000, %ecx' ' xorl %edx, %edx' \
    ' movl $0x100022, %esi' ' movl $-1, %edi' ' xorl %ebp, %ebp' ' int $0x80' \
    ' cmpl $-17, %eax' ' jne fail' \
    ' movl $1, %eax' ' xorl %ebx, %ebx' ' int $0x80' \
    'fail:' ' movl $1, %eax' ' movl $1, %ebx' ' int $0x80'
}

# The version a qemu prints of itself ("qemu-i386 version 10.0.2"), or its path.
kolvane_qemu_version() { # qemu
  local line
  line=$("$1" --version 2>/dev/null </dev/null | head -n 1 | sed 's/ (.*//')
  echo "${line:-$(kolvane_shown_path "$1")}"
}

# Why this qemu cannot run Wine's 32-bit loader in reasonable time: it is
# missing, or it does not honour MAP_FIXED_NOREPLACE. Nothing when it can,
# or where the probe cannot be made (without binutils).
kolvane_qemu_blocker() { # qemu
  local dir status=0
  if [ ! -x "$1" ]; then
    echo "$(kolvane_shown_path "$1") is missing"
    return 0
  fi
  dir=$(mktemp -d) || return 0
  if kolvane_make_noreplace_probe "$dir/probe"; then
    "$1" "$dir/probe" </dev/null >/dev/null 2>&1 || status=$?
  fi
  rm -rf "$dir"
  [ $status -eq 0 ] ||
    echo "$(kolvane_qemu_version "$1") does not honour MAP_FIXED_NOREPLACE (each 32-bit Wine program would take about 90 s to start)"
}

# Why i386 programs do not run under emulation here; nothing when they do.
kolvane_emulation_blocker() {
  local why
  why=$(kolvane_qemu_blocker "$KOLVANE_QEMU_I386")
  if [ -n "$why" ]; then
    if [ -s "$KOLVANE_EMULATION_FAILURE" ]; then
      head -n 1 "$KOLVANE_EMULATION_FAILURE"
    else
      echo "no qemu-i386 for emulation: $why"
    fi
    return 0
  fi
  why=$("$KOLVANE_ROOT/tools/i386-emulation.sh" check)
  [ -z "$why" ] || echo "emulation does not run: $why"
}

# Records why wine32:i386 is missing ("" clears it).
kolvane_record_wine32_failure() {
  if [ -z "$1" ]; then
    rm -f "$KOLVANE_WINE32_FAILURE"
  else
    mkdir -p "$(dirname "$KOLVANE_WINE32_FAILURE")" && printf '%s\n' "$1" >"$KOLVANE_WINE32_FAILURE"
  fi
}

# Records why no usable qemu-i386 is there ("" clears it).
kolvane_record_emulation_failure() {
  if [ -z "$1" ]; then
    rm -f "$KOLVANE_EMULATION_FAILURE"
  else
    mkdir -p "$(dirname "$KOLVANE_EMULATION_FAILURE")" && printf '%s\n' "$1" >"$KOLVANE_EMULATION_FAILURE"
  fi
}

# Why the 32-bit Wine loader does not start here ("emulated": under
# emulation); prints nothing when it does.
kolvane_wine32_blocker() { # [emulated]
  local run=() how=""
  # The tools it starts take the path being tried (it runs in a subshell).
  export KOLVANE_X86_RUNS=${1:-yes}
  if [ "${1:-}" = emulated ]; then
    run=("$KOLVANE_ROOT/tools/i386-emulation.sh" run)
    how=" under emulation"
  fi
  if kolvane_wine32_in_root; then
    if ! "${run[@]}" "$KOLVANE_ROOT/tools/i386-root.sh" run "$KOLVANE_ROOT_WINE32_LOADER" --version </dev/null >/dev/null 2>&1; then
      echo "the 32-bit Wine loader of the i386 root ($(kolvane_shown_path "$KOLVANE_I386_ROOT")) does not start$how$(
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
  elif ! "${run[@]}" "$KOLVANE_WINE32_LOADER" --version </dev/null >/dev/null 2>&1; then
    if [ -n "$how" ]; then
      echo "the 32-bit Wine loader ($KOLVANE_WINE32_LOADER) does not start$how"
    else
      echo "this machine cannot execute 32-bit x86 programs (the 32-bit Wine loader does not start)"
    fi
  fi
}

# How 32-bit programs run here: "yes" (natively), "emulated", or "no: "
# and why; where they run in no way, the reason natively and the reason
# under emulation.
kolvane_x86_answer() {
  local native why
  native=$(kolvane_i386_native_blocker)
  if [ -z "$native" ]; then
    why=$(kolvane_wine32_blocker)
    echo "${why:+no: $why}${why:-yes}"
    return 0
  fi
  if ! kolvane_emulation_wanted; then
    echo "no: $native; $KOLVANE_EMULATION_OFF"
    return 0
  fi
  why=$(kolvane_emulation_blocker)
  if [ -z "$why" ]; then
    why=$(kolvane_wine32_blocker emulated)
    [ -n "$why" ] || {
      echo emulated
      return 0
    }
  fi
  echo "no: $native; $why"
}

# Succeeds when 32-bit x86 programs run here, natively or emulated.
# Otherwise sets KOLVANE_X86_WHY to the reason. Exports the answer as
# KOLVANE_X86_RUNS ("yes", "emulated" or "no: why").
kolvane_x86_runs() {
  local answer=${KOLVANE_X86_RUNS:-}
  if [ "${KOLVANE_NO_32BIT:-}" = 1 ]; then
    answer="no: KOLVANE_NO_32BIT=1 is set"
    if kolvane_emulation_forced; then answer+=" (it wins over KOLVANE_EMULATE_32BIT=1)"; fi
  elif [ -z "$answer" ]; then
    answer=$(kolvane_x86_answer)
  fi
  export KOLVANE_X86_RUNS=$answer
  KOLVANE_X86_WHY=
  case $KOLVANE_X86_RUNS in
    yes | emulated) return 0 ;;
  esac
  KOLVANE_X86_WHY=${KOLVANE_X86_RUNS#no: }
  return 1
}

# Succeeds when 32-bit programs run here under emulation.
kolvane_x86_emulated() { kolvane_x86_runs && [ "$KOLVANE_X86_RUNS" = emulated ]; }

# The one line that says how the win32 build's programs run here, where
# they run.
kolvane_x86_path_line() {
  local where="with the machine's wine32:i386" why="the kernel cannot execute them"
  kolvane_wine32_in_root && where="in the i386 root $(kolvane_shown_path "$KOLVANE_I386_ROOT")"
  if kolvane_x86_emulated; then
    [ -n "$(kolvane_i386_exec_blocker)" ] || why="forced by KOLVANE_EMULATE_32BIT=1"
    echo "win32: the x86 programs run emulated ($(kolvane_qemu_version "$KOLVANE_QEMU_I386"), registered in a binfmt_misc of the run's own), $where ($why)"
  else
    echo "win32: the x86 programs run natively, $where"
  fi
}

# Sets KOLVANE_WINE to the loader that runs Windows programs on this machine
# itself. Where its own wine32:i386 runs 32-bit programs natively it is
# Debian's wrapper in the usual prefix, as for any Wine user; elsewhere the
# 64-bit loader, in a prefix made for it unless WINEPREFIX names one (32-bit
# programs then run in the i386 root, or under emulation: kolvane_wine32_select).
kolvane_wine_select() {
  export WINEDEBUG=${WINEDEBUG:--all}
  if kolvane_x86_runs && [ "$KOLVANE_X86_RUNS" = yes ] && ! kolvane_wine32_in_root; then
    KOLVANE_WINE=wine
  else
    KOLVANE_WINE=$KOLVANE_WINE64_LOADER
    export WINELOADER=$KOLVANE_WINE64_LOADER
    export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-kolvane64}
  fi
}

# Sets KOLVANE_WINE32_RUN to the command that runs a 32-bit Windows program
# here (after kolvane_wine_select, where 32-bit programs run). Under
# emulation with the machine's wine32:i386, the program runs in the prefix
# it shares with the native 64-bit Wine, whose wineserver serves it.
kolvane_wine32_select() {
  KOLVANE_WINE32_RUN=()
  kolvane_x86_emulated && KOLVANE_WINE32_RUN=("$KOLVANE_ROOT/tools/i386-emulation.sh" run)
  if kolvane_wine32_in_root; then
    KOLVANE_WINE32_RUN+=("$KOLVANE_ROOT/tools/i386-root.sh" run "$KOLVANE_ROOT_WINE32_LOADER")
  elif kolvane_x86_emulated; then
    export WINEPREFIX=$KOLVANE_EMULATED_WINEPREFIX WINELOADER=$KOLVANE_WINE32_LOADER WINESERVER=$KOLVANE_WINE64_SERVER
    # A crash ends the program: no emulated debugger is started for it, to
    # outlive the run.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d
    KOLVANE_WINE32_RUN+=("$KOLVANE_WINE32_LOADER")
  else
    KOLVANE_WINE32_RUN+=("$KOLVANE_WINE")
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
