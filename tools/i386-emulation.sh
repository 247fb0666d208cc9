#!/usr/bin/env bash
# i386 programs through user-mode emulation, for machines whose kernel
# cannot execute them: Debian's qemu-user-static, registered for i386 in a
# binfmt_misc of the program's own. Since Linux 6.7 every user namespace can
# mount a binfmt_misc of its own; the program runs in a new user namespace
# (the caller mapped to root there) and mount namespace, where
# i386 is registered. The machine's own binfmt_misc is never touched, and
# the registration and its mount vanish with the last process of the
# namespace.
#
#   i386-emulation.sh run PROGRAM ...  runs PROGRAM (and every i386 program
#                                      it starts) with i386 registered
#   i386-emulation.sh check            prints why emulation cannot run an
#                                      i386 program here; nothing when it can
#   i386-emulation.sh stop             ends the Wine processes of the
#                                      emulated prefix, and with them every
#                                      namespace of the run
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

tool=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
say() { echo "i386-emulation.sh: $*" >&2; }

# The registration: an i386 ELF executable (or shared object) in, qemu out.
# F opens qemu now, so the registration holds inside the i386 root's chroot
# too; P hands the program its own argv[0].
binfmt_name=kolvane-i386
binfmt_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# In the new namespaces: mounts binfmt_misc, registers i386, runs the program.
inside() { # program...
  local error
  if ! error=$(mount -t binfmt_misc kolvane-binfmt "$KOLVANE_BINFMT_MOUNT" 2>&1); then
    say "the registration of i386 was refused: binfmt_misc cannot be mounted in a user namespace here" \
      "(Linux 6.7 or later has one per namespace): ${error##*: }"
    exit 125
  fi
  if ! error=$({ printf ':%s:M::%s:%s:%s:FP\n' "$binfmt_name" "$binfmt_magic" "$binfmt_mask" "$KOLVANE_QEMU_I386" \
    >"$KOLVANE_BINFMT_MOUNT/register"; } 2>&1); then
    say "the registration of i386 was refused: ${error##*: }"
    exit 125
  fi
  export KOLVANE_I386_EMULATED=1
  exec "$@"
}

# Runs the program in a new user namespace, where the caller is root (so it
# may mount binfmt_misc there) and its files stay its own, and a new mount
# namespace.
run() { # program...
  if [ ! -x "$KOLVANE_QEMU_I386" ]; then
    say "$(kolvane_shown_path "$KOLVANE_QEMU_I386") is not installed (package qemu-user-static)"
    exit 125
  fi
  local error
  if ! error=$(unshare --user --map-root-user --mount true 2>&1); then
    say "the registration of i386 was refused: no user namespace can be made here: ${error##*: }"
    exit 125
  fi
  exec unshare --user --map-root-user --mount --propagation private -- "$tool" inside "$@"
}

# Why an i386 program does not run under emulation; nothing when it does.
check() {
  local dir probe out status=0
  dir=$(mktemp -d)
  probe=${KOLVANE_X86_PROBE:-}
  if [ -z "$probe" ]; then
    probe=$dir/probe
    kolvane_make_i386_probe "$probe" || {
      rm -rf "$dir"
      return 0
    }
  fi
  out=$("$tool" run "$probe" 2>&1 </dev/null) || status=$?
  rm -rf "$dir"
  [ $status -eq 0 ] && return 0
  if [[ $out == *i386-emulation.sh:* ]]; then
    printf '%s\n' "$out" | sed -n 's/^i386-emulation.sh: //p' | tail -n 1
  else
    echo "an i386 program fails under qemu-i386-static ($(printf '%s' "$out" | tr '\n' ' ' | sed 's/ *$//')${out:+, }exit $status)"
  fi
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  run)
    if [ $# -eq 0 ]; then
      echo "usage: i386-emulation.sh run PROGRAM [ARGUMENT...]" >&2
      exit 2
    fi
    if [ "${KOLVANE_I386_EMULATED:-}" = 1 ]; then
      exec "$@"
    fi
    run "$@"
    ;;
  check) check ;;
  stop)
    if kolvane_x86_emulated && ! kolvane_wine32_in_root && [ -x "$KOLVANE_WINE64_SERVER" ]; then
      WINEPREFIX=$KOLVANE_EMULATED_WINEPREFIX "$KOLVANE_WINE64_SERVER" -k </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  inside) inside "$@" ;;
  *)
    echo "usage: i386-emulation.sh run PROGRAM [ARGUMENT...] | check | stop" >&2
    exit 2
    ;;
esac
