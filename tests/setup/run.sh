#!/usr/bin/env bash
# Setup (tools/bootstrap.sh and the Makefile's needs) against stand-ins for
# apt-get, dpkg, dpkg-query and id first on PATH, so no real package is
# touched: what each target asks for, a mirror that is partly broken, a
# package that cannot be installed, and a machine that cannot execute
# i386 programs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
unset MAKEFLAGS MAKELEVEL MFLAGS KOLVANE_X86_RUNS KOLVANE_NO_32BIT KOLVANE_X86_PROBE
export KOLVANE_SETUP_STATE=$work/state
export FAKE_LOG=$work/calls

# apt-get: logs its call; FAKE_UPDATE_FAILS=1 fails the update as a mirror
# in sync does; FAKE_UNINSTALLABLE names packages whose install fails.
cat >"$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
case " $* " in
  *" update "*)
    if [ "${FAKE_UPDATE_FAILS:-0}" = 1 ]; then
      echo "E: Failed to fetch http://mirror/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (10 != 20). Mirror sync in progress?" >&2
      exit 100
    fi ;;
  *" install "*)
    for package in ${FAKE_UNINSTALLABLE:-}; do
      if [[ " $* " == *" $package "* ]]; then
        echo "E: Unable to correct problems, you have held broken packages." >&2
        exit 100
      fi
    done ;;
esac
exit 0
STAND_IN
# dpkg-query: FAKE_INSTALLED is "all" or the packages that are installed.
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
package=${!#}
if [ "${FAKE_INSTALLED:-}" = all ] || [[ " ${FAKE_INSTALLED:-} " == *" $package "* ]]; then
  printf 'install ok installed'
  exit 0
fi
exit 1
STAND_IN
cat >"$work/bin/dpkg" <<'STAND_IN'
#!/usr/bin/env bash
case $1 in
  --print-foreign-architectures) [ -n "${FAKE_FOREIGN:-}" ] && echo "$FAKE_FOREIGN"; exit 0 ;;
  *) echo "dpkg $*" >>"$FAKE_LOG" ;;
esac
STAND_IN
cat >"$work/bin/id" <<'STAND_IN'
#!/usr/bin/env bash
echo "${FAKE_UID:-0}"
STAND_IN
chmod +x "$work/bin/"*
export PATH=$work/bin:$PATH

# A program no machine can execute: the header of an ELF file, nothing more.
printf '\177ELF\001\001\001' >"$work/not-runnable"
chmod +x "$work/not-runnable"

failures=0
fail() { echo "setup test: FAIL: $*" >&2; failures=$((failures + 1)); }
run() { # name: runs the rest of the line with a fresh log; output in $out, exit in $code
  name=$1
  shift
  rm -f "$FAKE_LOG" "$KOLVANE_SETUP_STATE/wine32-not-installed"
  touch "$FAKE_LOG"
  out=$("$@" 2>&1)
  code=$?
}
expect_code() { [ "$code" -eq "$1" ] || fail "$name: exit $code, expected $1:"$'\n'"$out"; }
expect_out() { grep -Eq -- "$1" <<<"$out" || fail "$name: expected /$1/ in the output:"$'\n'"$out"; }
expect_call() { grep -Eq -- "$1" "$FAKE_LOG" || fail "$name: expected a call /$1/; calls:"$'\n'"$(cat "$FAKE_LOG")"; }
expect_no_call() { ! grep -Eq -- "$1" "$FAKE_LOG" || fail "$name: unexpected call /$1/; calls:"$'\n'"$(cat "$FAKE_LOG")"; }
bootstrap=$root/tools/bootstrap.sh

# Everything installed: apt is never called.
export KOLVANE_X86_PROBE=/bin/true
FAKE_INSTALLED=all run "nothing missing" "$bootstrap" native windows wine32 lint fuzz
expect_code 0
expect_no_call "apt-get"
expect_no_call "dpkg"

# The update fails (a mirror in sync), the install succeeds: setup goes on.
FAKE_INSTALLED="" FAKE_UPDATE_FAILS=1 run "update fails" "$bootstrap" native
expect_code 0
expect_out "setup: warning: apt-get update failed \(Failed to fetch http://mirror/.*binary-i386/Packages.xz"
expect_call "apt-get .*Acquire::Retries=1.* update"
expect_call "apt-get .* install .* cmake .*g\+\+"

# A package the target needs cannot be installed: setup fails and says how to rerun.
FAKE_INSTALLED="" FAKE_UNINSTALLABLE=mingw-w64 run "needed package fails" "$bootstrap" native windows
expect_code 1
expect_out "E: Unable to correct problems"
expect_out "setup: could not install what this target needs"
expect_out "apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends .*mingw-w64"

# Only wine32:i386 fails, on a machine that runs i386 programs: everything
# else is installed, setup goes on, and the reason is what the NOT RUN line says.
FAKE_INSTALLED="" FAKE_UPDATE_FAILS=1 FAKE_UNINSTALLABLE=wine32:i386 run "only wine32 fails" "$bootstrap" native windows wine32
expect_code 0
expect_call "dpkg --add-architecture i386"
expect_call "apt-get .* install .*wine64"
expect_call "apt-get .* install .*wine32:i386"
expect_call "dpkg --remove-architecture i386"
expect_out "warning: wine32:i386 could not be installed"
reason=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/x86-check.sh")
[ "$reason" = "no: wine32:i386 could not be installed: Unable to correct problems, you have held broken packages." ] ||
  fail "only wine32 fails: x86-check.sh says '$reason'"
line=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/not-run.sh" win32)
grep -q "NOT RUN: wine32:i386 could not be installed" <<<"$line" || fail "only wine32 fails: the not-run line: $line"

# A machine that cannot execute i386 programs: neither the architecture nor
# wine32:i386 is asked for, and the reason says so.
export KOLVANE_X86_PROBE=$work/not-runnable
FAKE_INSTALLED="" run "no i386 execution" "$bootstrap" native windows wine32
expect_code 0
expect_no_call "add-architecture"
expect_no_call "i386"
expect_out "not installing wine32:i386: this machine cannot execute 32-bit x86 programs \(Exec format error\)"
reason=$("$root/tools/x86-check.sh")
[ "$reason" = "no: this machine cannot execute 32-bit x86 programs (Exec format error)" ] ||
  fail "no i386 execution: x86-check.sh says '$reason'"
export KOLVANE_X86_PROBE=/bin/true

# Not root: the exact command, for the packages the target needs only.
FAKE_UID=1000 FAKE_INSTALLED="cmake make" run "not root" "$bootstrap" native
expect_code 1
expect_out "Run as root:"
expect_out "apt-get install -y --no-install-recommends g\+\+ binutils"
grep -Eq "mingw|wine|clang" <<<"$out" && fail "not root: asks for more than the Linux build needs:"$'\n'"$out"
expect_no_call "apt-get"

# The Makefile: `make demo` asks only for the native packages (the install is
# refused here, so nothing is built), `make test` for everything.
FAKE_INSTALLED="" FAKE_UNINSTALLABLE="cmake" run "make demo" make -s -C "$root" demo
expect_code 2
expect_call "apt-get .* install -y -q --no-install-recommends cmake make g\+\+ binutils googletest libgtest-dev libgmock-dev libbenchmark-dev pkg-config$"
expect_no_call "mingw|wine|clang|i386"
# `make test` would run this test again, so only its set-up line is read.
run "make test" make -n -C "$root" test
expect_code 0
expect_out "^tools/bootstrap.sh fuzz lint native windows wine32$"

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "setup: each target asks only for what it needs; a broken mirror, a failed install and a machine without i386 execution handled"
