#!/usr/bin/env bash
# The i386 root: a minimal i386 Debian of this machine's own release with
# Wine's 32-bit loader (wine32) inside, for machines that execute 32-bit x86
# programs but where apt cannot install wine32:i386 beside the amd64
# packages. Setup makes it once (tools/bootstrap.sh); the win32 build's
# programs then run in it (tools/wine-run.sh).
#
#   i386-root.sh create           makes it: debootstrap (minbase, main suite
#                                 only, from this machine's own mirror), then
#                                 wine32 inside; as root
#   i386-root.sh run PROGRAM ...  runs PROGRAM inside it, in the folder the
#                                 caller is in; as root
#   i386-root.sh stop             ends the Wine processes of its prefix
#
# A program there needs /proc, /dev and this source tree (at the same path,
# so that every path stays valid). They are mounted in a private mount
# namespace of the program's own: no other process sees them, and they
# vanish with the program and the wineserver it started, which `stop` ends.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

tool=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
say() { echo "i386-root.sh: $*" >&2; }

# The last error line of a log ("E: ..."), or else its last line.
log_reason() {
  local line
  line=$(grep -E '^E: ' "$1" | tail -n 1 | sed 's/^E: //')
  [ -n "$line" ] || line=$(tail -n 1 "$1")
  printf '%s' "$line"
}

require_root_user() {
  if [ "$(id -u)" -ne 0 ]; then
    say "only root can make or enter the i386 root (it mounts and chroots)"
    exit 1
  fi
}

# Mounts what a program needs, then runs it in the root. Called through
# `unshare --mount --propagation private`, so every mount here is private.
# The folder the program runs in is mounted too when it is outside the
# source tree and not a folder of the root's own (as /tmp is).
inside() { # root folder, program...
  local dir=$1 tree trees=("$KOLVANE_ROOT")
  shift
  case $PWD/ in
    "$KOLVANE_ROOT"/*) ;;
    *) [ -n "$(ls -A "$dir$PWD" 2>/dev/null)" ] || trees+=("$PWD") ;;
  esac
  mount --rbind /proc "$dir/proc"
  mount --rbind /dev "$dir/dev"
  for tree in "${trees[@]}"; do
    mkdir -p "$dir$tree"
    mount --rbind "$tree" "$dir$tree"
  done
  exec chroot "$dir" /usr/bin/env -C "$PWD" HOME=/root LANG=C.UTF-8 \
    WINEPREFIX="$KOLVANE_ROOT_WINEPREFIX" WINELOADER="$KOLVANE_ROOT_WINE32_LOADER" "$@"
}

enter() { # root folder, program...
  unshare --mount --propagation private -- "$tool" inside "$@"
}

create() {
  require_root_user
  # debootstrap makes device nodes in the root; the user namespace that
  # holds i386's registration under emulation cannot ("Cannot install into
  # target ... mounted with noexec or nodev").
  if [ "${KOLVANE_I386_EMULATED:-}" = 1 ]; then
    say "it cannot be made under emulation: debootstrap makes device nodes, which the user namespace that registers i386 cannot"
    exit 1
  fi
  local codename mirror partial=$KOLVANE_I386_ROOT.partial log=$KOLVANE_I386_ROOT.log
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -z "$codename" ]; then
    say "this machine's Debian release has no codename in /etc/os-release"
    exit 1
  fi
  mirror=$(kolvane_own_mirror "$codename")
  if [ -z "$mirror" ]; then
    say "apt's sources name no mirror of $codename main"
    exit 1
  fi
  if ! command -v debootstrap >/dev/null; then
    say "debootstrap is not installed"
    exit 1
  fi
  echo "setup: making an i386 Debian root ($codename main, from $mirror) with Wine's 32-bit loader in" \
    "$(kolvane_shown_path "$KOLVANE_I386_ROOT"), once: about 2 minutes and 850 MB"
  rm -rf "$partial" "$KOLVANE_I386_ROOT"
  mkdir -p "$(dirname "$partial")"
  # debootstrap mounts /proc and /sys in the root while it works: privately.
  if ! unshare --mount --propagation private -- \
    debootstrap --variant=minbase --arch=i386 --components=main "$codename" "$partial" "$mirror" >"$log" 2>&1; then
    say "debootstrap failed: $(log_reason "$log") (log: $(kolvane_shown_path "$log"))"
    exit 1
  fi
  if ! { enter "$partial" apt-get -o Acquire::Retries=1 -q update &&
    enter "$partial" env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=1 -q install -y \
      --no-install-recommends wine32 &&
    enter "$partial" apt-get clean; } >>"$log" 2>&1; then
    say "wine32 could not be installed in it: $(log_reason "$log") (log: $(kolvane_shown_path "$log"))"
    exit 1
  fi
  if ! enter "$partial" "$KOLVANE_ROOT_WINE32_LOADER" --version >>"$log" 2>&1; then
    say "its 32-bit Wine loader does not start: $(log_reason "$log") (log: $(kolvane_shown_path "$log"))"
    exit 1
  fi
  # What apt downloaded, needed no more: about 80 MB.
  rm -rf "$partial"/var/lib/apt/lists/*
  mv "$partial" "$KOLVANE_I386_ROOT"
  touch "$KOLVANE_I386_ROOT_READY"
  rm -f "$log"
}

# Where i386 programs run under emulation, runs this command again with i386
# registered (tools/i386-emulation.sh); returns where they run natively.
emulated() { # command, arguments...
  if [ "${KOLVANE_I386_EMULATED:-}" != 1 ] && kolvane_x86_emulated; then
    exec "$KOLVANE_ROOT/tools/i386-emulation.sh" run "$tool" "$@"
  fi
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  create) create ;;
  run)
    if [ $# -eq 0 ]; then
      echo "usage: i386-root.sh run PROGRAM [ARGUMENT...]" >&2
      exit 2
    fi
    if ! kolvane_i386_root_ready; then
      say "the i386 root $(kolvane_shown_path "$KOLVANE_I386_ROOT") is not made"
      exit 1
    fi
    require_root_user
    emulated "$command" "$@"
    exec unshare --mount --propagation private -- "$tool" inside "$KOLVANE_I386_ROOT" "$@"
    ;;
  stop)
    if kolvane_i386_root_ready && [ "$(id -u)" -eq 0 ]; then
      emulated "$command"
      enter "$KOLVANE_I386_ROOT" "$KOLVANE_ROOT_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  inside) inside "$@" ;;
  *)
    echo "usage: i386-root.sh create | run PROGRAM [ARGUMENT...] | stop" >&2
    exit 2
    ;;
esac
