#!/usr/bin/env bash
# i386 programs through user-mode emulation, for machines whose kernel
# cannot execute them: a qemu-i386 (`qemu`, below), registered for i386 in
# a binfmt_misc of the program's own. Since Linux 6.7 every user namespace can
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
#   i386-emulation.sh qemu             makes the qemu-i386 for emulation
#                                      ready (setup, once; below)
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
    say "$(kolvane_shown_path "$KOLVANE_QEMU_I386") is missing (setup makes it ready: tools/i386-emulation.sh qemu)"
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
    echo "an i386 program fails under qemu-i386 ($(printf '%s' "$out" | tr '\n' ' ' | sed 's/ *$//')${out:+, }exit $status)"
  fi
}

# The qemu-i386 that emulation uses, made ready once: the machine's own
# qemu-i386-static where it honours MAP_FIXED_NOREPLACE, else Debian's
# qemu-user of this release's backports, or of the release itself, fetched
# from this machine's own mirror with apt lists of setup's own and unpacked
# into build/.setup/qemu (apt checks it against the release's signed
# index, as any download). No package is installed (a qemu package would
# register its formats for the whole machine) and apt's own state is not
# touched. KOLVANE_QEMU_I386 is then a link to the one chosen. Where the
# caller named KOLVANE_QEMU_I386 itself, only that one is checked.
ready_qemu() {
  local why machine_why
  why=$(kolvane_qemu_blocker "$KOLVANE_QEMU_I386")
  [ -n "$why" ] || return 0
  if [ "$KOLVANE_QEMU_I386" != "$KOLVANE_SETUP_DIR/qemu-i386" ]; then
    say "no qemu-i386 for emulation: $why"
    return 1
  fi
  mkdir -p "$KOLVANE_SETUP_DIR"
  machine_why=$(kolvane_qemu_blocker "$KOLVANE_MACHINE_QEMU_I386")
  if [ -z "$machine_why" ]; then
    ln -sfn "$KOLVANE_MACHINE_QEMU_I386" "$KOLVANE_QEMU_I386"
    echo "setup: emulation with the machine's $(kolvane_qemu_version "$KOLVANE_MACHINE_QEMU_I386") ($KOLVANE_MACHINE_QEMU_I386)"
    return 0
  fi
  fetch_qemu "$machine_why"
}

fetch_qemu() { # why the machine's own qemu is not used
  local codename mirror apt=$KOLVANE_SETUP_DIR/apt unpacked=$KOLVANE_SETUP_DIR/qemu suite log candidate why=""
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(kolvane_own_mirror "$codename")
  if [ -z "$codename" ] || [ -z "$mirror" ]; then
    say "no qemu-i386 for emulation: $1, and apt names no mirror of this release (${codename:-no codename in /etc/os-release}) to fetch Debian's qemu-user from"
    return 1
  fi
  echo "setup: fetching Debian's qemu-user from $mirror ($codename-backports, else $codename) into $(kolvane_shown_path "$unpacked"), not installed: $1"
  rm -rf "$apt" "$unpacked"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$unpacked"
  # The indexes of one suite at a time, of this machine's own architecture.
  local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt" -o Dir::Cache::archives="$apt/archives"
    -o APT::Architectures::="$(dpkg --print-architecture)" -o APT::Sandbox::User=root -o Acquire::Retries=1)
  log=$apt/log
  for suite in "$codename-backports" "$codename"; do
    rm -f "$apt"/*.deb
    printf 'deb %s %s main\n' "$mirror" "$suite" >"$apt/sources.list"
    # The first error is the cause: an index that could not be fetched,
    # else the package that this suite lacks.
    apt-get "${options[@]}" update -q >"$log" 2>&1 || true
    # In qemu 10 qemu-user-static only links qemu-i386-static to the static
    # qemu-i386 of qemu-user; in qemu 7 it holds the binary itself.
    if ! (cd "$apt" && apt-get "${options[@]}" download "qemu-user-static/$suite" "qemu-user/$suite") >>"$log" 2>&1; then
      why="${why:+$why; }$suite: $(grep -E '^E: ' "$log" | head -n 1 | sed 's/^E: //')"
      continue
    fi
    rm -rf "${unpacked:?}/$suite" && mkdir -p "$unpacked/$suite"
    for deb in "$apt"/*.deb; do
      dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$unpacked/$suite" --wildcards './usr/bin/qemu-i386*' 2>/dev/null || true
    done
    candidate=$unpacked/$suite/usr/bin/qemu-i386-static
    local candidate_why
    candidate_why=$(kolvane_qemu_blocker "$candidate")
    if [ -z "$candidate_why" ]; then
      ln -sfn "$candidate" "$KOLVANE_QEMU_I386"
      rm -rf "$apt"
      echo "setup: emulation with $(kolvane_qemu_version "$candidate") from $suite ($(kolvane_shown_path "$candidate"))"
      return 0
    fi
    why="${why:+$why; }$suite: $candidate_why"
  done
  rm -rf "$apt" "$unpacked"
  say "no qemu-i386 for emulation: $1, and none could be fetched ($why)"
  return 1
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
  qemu) ready_qemu ;;
  stop)
    if kolvane_x86_emulated && ! kolvane_wine32_in_root && [ -x "$KOLVANE_WINE64_SERVER" ]; then
      WINEPREFIX=$KOLVANE_EMULATED_WINEPREFIX "$KOLVANE_WINE64_SERVER" -k </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  inside) inside "$@" ;;
  *)
    echo "usage: i386-emulation.sh run PROGRAM [ARGUMENT...] | check | stop | qemu" >&2
    exit 2
    ;;
esac
