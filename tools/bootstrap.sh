#!/usr/bin/env bash
# Installs what a target needs on a fresh Debian machine, and nothing more.
# The Makefile names the needs of the goals it runs:
#   native   the Linux build: module, kolvane-host, tests, benchmarks
#   windows  mingw-w64, Wine (64-bit) and zip, for the Windows builds
#   wine32   Wine's 32-bit loader, to run the win32 build's programs, and
#            never fatal (what it costs is said loudly): wine32:i386 where
#            apt installs it, else an i386 root with wine32 inside, made once
#            (tools/i386-root.sh; KOLVANE_WINE32_ROOT=1 takes that path even
#            where wine32:i386 is installed). Where the kernel cannot
#            execute i386 programs (or KOLVANE_EMULATE_32BIT=1 forces it),
#            first a qemu-i386 for user-mode emulation in a binfmt_misc of
#            the run's own (tools/i386-emulation.sh qemu: the machine's, or
#            Debian's fetched into build/.setup, not installed); the loader
#            follows only where an i386 program then runs. Not where
#            KOLVANE_EMULATE_32BIT=0 turns emulation off
#   lint     clang-format, clang-tidy, and mingw-w64's headers for the
#            Windows-only sources
#   fuzz     clang, for libFuzzer
# Nothing missing: apt is never called. As root it installs; otherwise it
# prints the exact command and fails (wine32 alone: prints it and goes on).
#
# A mirror that is partly broken is not a reason to stop: `apt-get update`
# is retried once, a failure is a warning naming the index, and the install
# decides. Where neither wine32:i386 nor the i386 root can be had, the
# reason is recorded for tools/x86-check.sh, which names it in the NOT RUN
# line.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh

declare -A needs_packages=(
  [native]="cmake make g++ binutils googletest libgtest-dev libgmock-dev libbenchmark-dev pkg-config"
  [windows]="mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 zip unzip"
  [lint]="clang-format clang-tidy mingw-w64 g++-mingw-w64-i686-posix"
  [fuzz]="clang"
  [wine32]=""
)
apt_options=(-o Acquire::Retries=1 -o DPkg::Lock::Timeout=120)

say() { echo "setup: $*" >&2; }

[ $# -gt 0 ] || set -- native
want_wine32=0
wanted=()
for need in "$@"; do
  if [ -z "${needs_packages[$need]+set}" ]; then
    say "unknown need '$need' (known: ${!needs_packages[*]})"
    exit 2
  fi
  [ "$need" = wine32 ] && want_wine32=1
  read -ra list <<<"${needs_packages[$need]}"
  wanted+=("${list[@]}")
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for package in $(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++'); do
  installed "$package" || missing+=("$package")
done

# Wine's 32-bit loader only where i386 programs run: natively, decided by
# running one with nothing that is not installed yet (tools/wine-env.sh), or
# else under emulation, where the qemu comes first and the loader only once
# an i386 program runs under it. An i386 root made before is reused.
wine32_missing=0
root_needed=0
add_i386=0
emulate=0
qemu_missing=0
native_blocker=""
if [ $want_wine32 -eq 1 ] && [ "${KOLVANE_NO_32BIT:-}" != 1 ]; then
  native_blocker=$(kolvane_i386_native_blocker)
  if [ -n "$native_blocker" ] && kolvane_emulation_wanted; then
    emulate=1
    [ -z "$(kolvane_qemu_blocker "$KOLVANE_QEMU_I386")" ] || qemu_missing=1
  fi
  if ! kolvane_i386_root_ready && { [ "${KOLVANE_WINE32_ROOT:-}" = 1 ] || ! installed wine32:i386; }; then
    if [ -n "$native_blocker" ] && [ $emulate -eq 0 ]; then
      say "not installing wine32:i386: $native_blocker; $KOLVANE_EMULATION_OFF"
    elif [ "${KOLVANE_WINE32_ROOT:-}" = 1 ]; then
      root_needed=1
    else
      wine32_missing=1
      dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
    fi
  fi
fi

# Where emulation is there but does not run an i386 program (the kernel
# refuses the registration), neither the loader nor the root is asked for.
emulation_refused() {
  local why
  why=$(tools/i386-emulation.sh check)
  [ -n "$why" ] || return 1
  say "not installing wine32:i386: $native_blocker, and emulation does not run: $why"
  wine32_missing=0
  root_needed=0
}
if [ $emulate -eq 1 ] && [ $qemu_missing -eq 0 ] && [ $((wine32_missing + root_needed)) -gt 0 ] && emulation_refused; then
  add_i386=0
fi
[ ${#missing[@]} -eq 0 ] && [ $qemu_missing -eq 0 ] && [ $wine32_missing -eq 0 ] && [ $root_needed -eq 0 ] && exit 0

# The qemu for emulation, where the kernel cannot execute i386 programs:
# the machine's, or Debian's fetched (needs no root), then a first i386
# program under it. Either failing, the reason is what the NOT RUN line
# says, and the loader is not installed.
ready_qemu() {
  local log status=0
  log=$(mktemp)
  tools/i386-emulation.sh qemu 2>"$log" || status=$?
  cat "$log" >&2
  if [ $status -eq 0 ]; then
    kolvane_record_emulation_failure ""
    [ $((wine32_missing + root_needed)) -gt 0 ] && emulation_refused && add_i386=0
  else
    kolvane_record_emulation_failure "$(sed -n 's/^i386-emulation.sh: //p' "$log" | tail -n 1)"
    say "warning: the win32 build's tests will be NOT RUN"
    wine32_missing=0
    root_needed=0
    add_i386=0
  fi
  rm -f "$log"
  qemu_missing=0
}

install_command() { # packages...
  local prefix=""
  [ $add_i386 -eq 1 ] && [[ " $* " == *":i386 "* ]] && prefix="dpkg --add-architecture i386 && "
  echo "${prefix}apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $*"
}

if [ "$(id -u)" -ne 0 ]; then
  if [ ${#missing[@]} -gt 0 ]; then
    say "kolvane needs packages that are not installed. Run as root:"
    echo "  $(install_command "${missing[@]}")" >&2
    exit 1
  fi
  [ $qemu_missing -eq 1 ] && ready_qemu
  [ $((wine32_missing + root_needed)) -gt 0 ] || exit 0
  if [ $root_needed -eq 1 ]; then
    kolvane_record_wine32_failure "the i386 root is not made and setup is not root"
    say "the win32 build's tests will be NOT RUN: only root can make the i386 root"
    exit 0
  fi
  kolvane_record_wine32_failure "wine32:i386 is not installed and setup is not root"
  say "the win32 build's tests will be NOT RUN: wine32:i386 is not installed. To run them, as root:"
  echo "  $(install_command wine32:i386)" >&2
  exit 0
fi

# One warning line per index that could not be fetched after apt's retry.
apt_update() {
  local log
  log=$(mktemp)
  if ! apt-get "${apt_options[@]}" update -q >"$log" 2>&1; then
    local failed
    failed=$(grep -oE '(Failed to fetch|Could not resolve|Hash Sum mismatch)[^ ]* *[^ ]+' "$log" | head -n 3 | tr '\n' ' ' | sed 's/ *$//')
    say "warning: apt-get update failed (${failed:-$(tail -n 1 "$log")}); going on, the install decides"
  fi
  rm -f "$log"
}

apt_install() { # packages...
  DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y -q --no-install-recommends "$@"
}

# Leaves no i386 architecture behind that this run added and nothing uses.
drop_unused_i386() {
  if [ $add_i386 -eq 1 ] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
    dpkg --remove-architecture i386 || true
  fi
}

[ $qemu_missing -eq 1 ] && ready_qemu
[ ${#missing[@]} -eq 0 ] && [ $wine32_missing -eq 0 ] && [ $root_needed -eq 0 ] && exit 0
[ ${#missing[@]} -gt 0 ] && echo "setup: installing: ${missing[*]}"
[ $add_i386 -eq 1 ] && dpkg --add-architecture i386
apt_update
if [ ${#missing[@]} -gt 0 ] && ! apt_install "${missing[@]}"; then
  drop_unused_i386
  say "could not install what this target needs (apt's error above). Rerun, as root:"
  echo "  $(install_command "${missing[@]}")" >&2
  exit 1
fi

# Under emulation the i386 root is made with i386 registered: debootstrap
# and apt run i386 programs inside it.
root_tool=(tools/i386-root.sh)
[ $emulate -eq 1 ] && root_tool=(tools/i386-emulation.sh run tools/i386-root.sh)

# The i386 root with debootstrap, installed for it alone. On failure the
# reason (after why the root was needed) is what the NOT RUN line says.
make_root() { # why the root is needed
  local log reason
  log=$(mktemp)
  if ! installed debootstrap && ! apt_install debootstrap >"$log" 2>&1; then
    reason="debootstrap could not be installed: $(grep -E '^E: ' "$log" | tail -n 1 | sed 's/^E: //')"
  elif "${root_tool[@]}" create 2>"$log"; then
    kolvane_record_wine32_failure ""
    rm -f "$log"
    return 0
  else
    reason=$(sed -n 's/^i386-root.sh: //p' "$log" | tail -n 1)
  fi
  rm -f "$log"
  kolvane_record_wine32_failure "$1; the i386 root could not be made: ${reason:-tools/i386-root.sh failed}"
  say "warning: the i386 root could not be made (${reason:-tools/i386-root.sh failed});" \
    "the win32 build's tests will be NOT RUN. The next run of setup tries again."
}

if [ $wine32_missing -eq 1 ]; then
  echo "setup: installing: wine32:i386"
  log=$(mktemp)
  if apt_install wine32:i386 2>&1 | tee "$log"; then
    kolvane_record_wine32_failure ""
  else
    reason=$(grep -E '^E: ' "$log" | tail -n 1 | sed 's/^E: //')
    say "warning: wine32:i386 could not be installed (${reason:-apt-get failed}); everything else is;" \
      "the win32 build's programs will run in an i386 root instead"
    drop_unused_i386
    make_root "wine32:i386 could not be installed: ${reason:-apt-get failed}"
  fi
  rm -f "$log"
fi
[ $root_needed -eq 1 ] && make_root "KOLVANE_WINE32_ROOT=1 is set"
exit 0
