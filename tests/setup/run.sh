#!/usr/bin/env bash
# Setup (tools/bootstrap.sh and the Makefile's needs) against stand-ins for
# apt-get, dpkg, dpkg-query and id first on PATH, so no real package is
# touched: what each target asks for, a mirror that is partly broken, a
# package that cannot be installed, the i386 root where wine32:i386 cannot
# be installed (debootstrap and the root's namespace stood in for too), and
# a machine that cannot execute i386 programs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
unset MAKEFLAGS MAKELEVEL MFLAGS KOLVANE_X86_RUNS KOLVANE_NO_32BIT KOLVANE_X86_PROBE KOLVANE_WINE32_ROOT \
  KOLVANE_EMULATE_32BIT KOLVANE_I386_EMULATED KOLVANE_EMULATED_WINEPREFIX KOLVANE_WINE64_LOADER KOLVANE_QEMU_I386
export KOLVANE_SETUP_STATE=$work/state
export KOLVANE_I386_ROOT=$work/i386-root
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
    done
    ;;
  *" download "*)
    # A package/suite in FAKE_NO_QEMU_IN is not on the mirror; the file
    # holds the version of qemu that the suite has.
    for request in "$@"; do
      case $request in */*) ;; *) continue ;; esac
      suite=${request#*/}
      if [[ " ${FAKE_NO_QEMU_IN:-} " == *" $suite "* ]]; then
        echo "E: Can't find a source to download version of '${request%%/*}'" >&2
        exit 100
      fi
      case $suite in *-backports) version=10.0.2 ;; *) version=${FAKE_RELEASE_QEMU:-7.2.22} ;; esac
      echo "$version" >"${request%%/*}_$suite.deb"
    done ;;
  *" indextargets "*)
    printf '%s\n' "http://mirror/debian-security/ $FAKE_CODENAME-security main Packages" \
      "http://mirror/debian/ $FAKE_CODENAME main Packages" ;;
esac
exit 0
STAND_IN
# debootstrap: logs its call and makes the folder; FAKE_MIRROR_DOWN=1 fails
# as an unreachable mirror does.
cat >"$work/bin/debootstrap" <<'STAND_IN'
#!/usr/bin/env bash
echo "debootstrap $*" >>"$FAKE_LOG"
if [ "${FAKE_MIRROR_DOWN:-0}" = 1 ]; then
  echo "E: Failed getting release file http://mirror/debian/dists/$FAKE_CODENAME/Release" >&2
  exit 1
fi
mkdir -p "${@: -2:1}"
STAND_IN
# unshare: runs what it is given, except a program in the i386 root, which
# it logs as "in the root: ..." and fails when it matches FAKE_ROOT_FAILS.
# A user namespace is logged as "in a user namespace: ..."; FAKE_USERNS_REFUSED=1
# refuses it as a kernel without them does.
cat >"$work/bin/unshare" <<'STAND_IN'
#!/usr/bin/env bash
if [[ " $* " == *" --user "* ]]; then
  if [ "${FAKE_USERNS_REFUSED:-0}" = 1 ]; then
    echo "unshare: unshare failed: Operation not permitted" >&2
    exit 1
  fi
  [[ " $* " == *" -- "* ]] || exit 0
  while [ "$1" != -- ]; do shift; done
  shift
  echo "in a user namespace: ${*:3}" >>"$FAKE_LOG"
  exec "$@"
fi
while [ "$1" != -- ]; do shift; done
shift
if [ "$(basename "$1")" = i386-root.sh ] && [ "$2" = inside ]; then
  shift 3
  echo "in the root: $*" >>"$FAKE_LOG"
  if [ -n "${FAKE_ROOT_FAILS:-}" ] && [[ "$*" == *$FAKE_ROOT_FAILS* ]]; then
    echo "E: Unable to locate package wine32" >&2
    exit 100
  fi
  exit 0
fi
exec "$@"
STAND_IN
# mount: only binfmt_misc is asked for, in the user namespace: makes the
# folder KOLVANE_BINFMT_MOUNT names a binfmt_misc with a register file;
# FAKE_BINFMT_REFUSED=1 refuses it as a kernel before 6.7 does.
cat >"$work/bin/mount" <<'STAND_IN'
#!/usr/bin/env bash
echo "mount $*" >>"$FAKE_LOG"
if [ "${FAKE_BINFMT_REFUSED:-0}" = 1 ]; then
  echo "mount: ${!#}: permission denied." >&2
  exit 32
fi
mkdir -p "${!#}" && : >"${!#}/register"
STAND_IN
# An i386 program and the 32-bit Wine loader: they run only where i386 is
# registered for qemu in the namespace (as i386-emulation.sh does), and
# fail as an i386 program does on a kernel that cannot execute it.
cat >"$work/i386-program" <<'STAND_IN'
#!/usr/bin/env bash
if [ "${KOLVANE_I386_EMULATED:-}" = 1 ] && grep -q ":kolvane-i386:M::.*:$KOLVANE_SETUP_STATE/qemu-i386:F" "$KOLVANE_BINFMT_MOUNT/register" 2>/dev/null; then
  echo "i386 program: $*" >>"$FAKE_LOG"
  exit 0
fi
echo "$0: cannot execute binary file: Exec format error" >&2
exit 126
STAND_IN
# dpkg-query: FAKE_INSTALLED is "all" or the packages that are installed;
# FAKE_NOT_INSTALLED the exceptions to "all".
cat >"$work/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
package=${!#}
[[ " ${FAKE_NOT_INSTALLED:-} " == *" $package "* ]] && exit 1
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
# A qemu-i386 stand-in: prints its version, and passes the probe of
# MAP_FIXED_NOREPLACE (exits 0 on it) unless it is a qemu 7, as Debian 12's
# qemu 7.2 fails it.
cat >"$work/make-qemu" <<'STAND_IN'
#!/usr/bin/env bash
mkdir -p "$(dirname "$1")"
printf '#!/bin/sh\n[ "$1" = --version ] && { echo "qemu-i386 version %s (Debian)"; exit 0; }\ncase %s in 7.*) exit 1 ;; esac\nexit 0\n' "$2" "$2" >"$1"
chmod +x "$1"
STAND_IN
# dpkg-deb --fsys-tarfile: a package whose qemu-i386-static has the version
# the downloaded file holds.
cat >"$work/bin/dpkg-deb" <<'STAND_IN'
#!/usr/bin/env bash
echo "dpkg-deb $*" >>"$FAKE_LOG"
tree=$(mktemp -d)
"$(dirname "$0")/../make-qemu" "$tree/usr/bin/qemu-i386-static" "$(cat "$2")"
tar -c -C "$tree" ./usr/bin/qemu-i386-static
rm -rf "$tree"
STAND_IN
cat >"$work/bin/id" <<'STAND_IN'
#!/usr/bin/env bash
echo "${FAKE_UID:-0}"
STAND_IN
chmod +x "$work/bin/"* "$work/i386-program" "$work/make-qemu"
export KOLVANE_MACHINE_QEMU_I386=$work/machine/qemu-i386-static
export KOLVANE_BINFMT_MOUNT=$work/binfmt
export PATH=$work/bin:$PATH
FAKE_CODENAME=$(. /etc/os-release && echo "$VERSION_CODENAME")
export FAKE_CODENAME

# A program no machine can execute: the header of an ELF file, nothing more.
printf '\177ELF\001\001\001' >"$work/not-runnable"
chmod +x "$work/not-runnable"

failures=0
fail() { echo "setup test: FAIL: $*" >&2; failures=$((failures + 1)); }
run() { # name: runs the rest of the line with a fresh log; output in $out, exit in $code
  name=$1
  shift
  rm -rf "$FAKE_LOG" "$KOLVANE_SETUP_STATE" "$KOLVANE_I386_ROOT" "$KOLVANE_BINFMT_MOUNT"
  [ "${KEEP_QEMU:-0}" = 1 ] || rm -rf "$work/machine"
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
# else is installed, setup goes on, and makes the i386 root: debootstrap
# (minbase, i386, main suite only, from this machine's mirror), then wine32
# inside it. 32-bit programs then run there, and nothing says NOT RUN.
FAKE_INSTALLED="" FAKE_UPDATE_FAILS=1 FAKE_UNINSTALLABLE=wine32:i386 run "only wine32 fails" "$bootstrap" native windows wine32
expect_code 0
expect_call "dpkg --add-architecture i386"
expect_call "apt-get .* install .*wine64"
expect_call "apt-get .* install .*wine32:i386"
expect_call "dpkg --remove-architecture i386"
expect_call "apt-get .* install .*debootstrap$"
expect_call "^debootstrap --variant=minbase --arch=i386 --components=main $FAKE_CODENAME $KOLVANE_I386_ROOT.partial http://mirror/debian/$"
expect_call "^in the root: env DEBIAN_FRONTEND=noninteractive apt-get .* install -y --no-install-recommends wine32$"
expect_out "warning: wine32:i386 could not be installed"
expect_out "^setup: making an i386 Debian root \($FAKE_CODENAME main, from http://mirror/debian/\) with Wine's 32-bit loader in $KOLVANE_I386_ROOT, once: about"
[ "$(grep -c "making an i386 Debian root" <<<"$out")" -eq 1 ] || fail "only wine32 fails: the root's line is not said once:"$'\n'"$out"
reason=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/x86-check.sh")
[ "$reason" = yes ] || fail "only wine32 fails: x86-check.sh says '$reason'"
line=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/not-run.sh" win32)
[ -z "$line" ] || fail "only wine32 fails: a not-run line: $line"
: >"$FAKE_LOG"
printf 'MZ' >"$work/program.exe"
head -c 58 /dev/zero >>"$work/program.exe"
printf '\100\0\0\0PE\0\0\114\001' >>"$work/program.exe"
KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/wine-run.sh" "$work/program.exe" --keys >/dev/null 2>&1 ||
  fail "only wine32 fails: wine-run.sh on a 32-bit program exited $?"
expect_call "^in the root: /usr/lib/wine/wine $work/program.exe --keys$"

# The root, once made, is reused: apt and debootstrap are not called again.
: >"$FAKE_LOG"
out=$(FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 "$bootstrap" native windows wine32 2>&1) || fail "root reused: setup exited $?"
[ ! -s "$FAKE_LOG" ] || fail "root reused: calls:"$'\n'"$(cat "$FAKE_LOG")"

# The root cannot be made (its mirror is down): setup still ends well, and
# the NOT RUN line gives both reasons.
FAKE_INSTALLED="" FAKE_UNINSTALLABLE=wine32:i386 FAKE_MIRROR_DOWN=1 run "root fails" "$bootstrap" native windows wine32
expect_code 0
expect_out "warning: the i386 root could not be made \(debootstrap failed: Failed getting release file http://mirror/debian/dists/$FAKE_CODENAME/Release"
line=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/not-run.sh" win32)
grep -q "NOT RUN: wine32:i386 could not be installed: Unable to correct problems, you have held broken packages.; the i386 root could not be made: debootstrap failed: Failed getting release file" <<<"$line" ||
  fail "root fails: the not-run line: $line"
[ ! -e "$KOLVANE_I386_ROOT" ] || fail "root fails: an i386 root was left"

# wine32 cannot be installed inside the root either.
FAKE_INSTALLED="debootstrap" FAKE_UNINSTALLABLE=wine32:i386 FAKE_ROOT_FAILS="install -y --no-install-recommends wine32" run "wine32 fails in the root" "$bootstrap" wine32
expect_code 0
expect_no_call "apt-get .* install .*debootstrap"
expect_out "the i386 root could not be made \(wine32 could not be installed in it: Unable to locate package wine32"
[ ! -e "$KOLVANE_I386_ROOT" ] || fail "wine32 fails in the root: an i386 root was left"

# KOLVANE_WINE32_ROOT=1 takes the root even where wine32:i386 is installed.
KOLVANE_WINE32_ROOT=1 FAKE_INSTALLED=all run "root forced" "$bootstrap" native windows wine32
expect_code 0
expect_no_call "wine32:i386"
expect_call "^debootstrap "
reason=$(KOLVANE_WINE32_ROOT=1 "$root/tools/x86-check.sh")
[ "$reason" = yes ] || fail "root forced: x86-check.sh says '$reason'"

# A machine that cannot execute i386 programs: emulation by default. The
# machine's qemu is Debian 12's 7.2 (it fails the MAP_FIXED_NOREPLACE probe),
# so setup fetches qemu-user from the release's backports into its own
# state, installs no qemu package, then registers i386 for it in the
# namespace and runs an i386 program there; then wine32:i386, as where the
# kernel runs them. 32-bit programs then run emulated: wine-run.sh starts
# the 32-bit loader in a user namespace, with the native 64-bit wineserver,
# and nothing says NOT RUN.
export KOLVANE_X86_PROBE=$work/i386-program
export KOLVANE_WINE32_LOADER=$work/i386-program
"$work/make-qemu" "$KOLVANE_MACHINE_QEMU_I386" 7.2.22
KEEP_QEMU=1 FAKE_INSTALLED="" run "emulated" "$bootstrap" native windows wine32
expect_code 0
expect_out "^setup: fetching Debian's qemu-user from http://mirror/debian/ \($FAKE_CODENAME-backports, else $FAKE_CODENAME\) into $KOLVANE_SETUP_STATE/qemu, not installed: qemu-i386 version 7.2.22 does not honour MAP_FIXED_NOREPLACE \(each 32-bit Wine program would take about 90 s to start\)$"
expect_out "^setup: emulation with qemu-i386 version 10.0.2 from $FAKE_CODENAME-backports "
expect_call "apt-get .*Dir::State::Lists=$KOLVANE_SETUP_STATE/apt/lists.* update"
expect_call "apt-get .* download qemu-user-static/$FAKE_CODENAME-backports qemu-user/$FAKE_CODENAME-backports$"
expect_no_call "install .*qemu"
expect_call "apt-get .* install .*wine32:i386$"
expect_call "^mount -t binfmt_misc kolvane-binfmt $KOLVANE_BINFMT_MOUNT$"
expect_call "^i386 program: $"
[ "$(readlink "$KOLVANE_SETUP_STATE/qemu-i386")" = "$KOLVANE_SETUP_STATE/qemu/$FAKE_CODENAME-backports/usr/bin/qemu-i386-static" ] ||
  fail "emulated: the qemu link: $(ls -l "$KOLVANE_SETUP_STATE/qemu-i386" 2>&1)"
[ ! -e "$KOLVANE_SETUP_STATE/apt" ] || fail "emulated: the fetch's apt state was left"
[ "$(grep -n "download qemu" "$FAKE_LOG" | cut -d: -f1)" -lt "$(grep -n "i386 program" "$FAKE_LOG" | head -n 1 | cut -d: -f1)" ] &&
  [ "$(grep -n "i386 program" "$FAKE_LOG" | head -n 1 | cut -d: -f1)" -lt "$(grep -n "wine32:i386$" "$FAKE_LOG" | cut -d: -f1)" ] ||
  fail "emulated: not qemu, then an i386 program, then wine32:i386:"$'\n'"$(cat "$FAKE_LOG")"
reason=$("$root/tools/x86-check.sh")
[ "$reason" = emulated ] || fail "emulated: x86-check.sh says '$reason'"
line=$("$root/tools/not-run.sh" win32)
[ -z "$line" ] || fail "emulated: a not-run line: $line"
line=$(source "$root/tools/wine-env.sh" && kolvane_x86_path_line)
grep -q "^win32: the x86 programs run emulated (qemu-i386 version 10.0.2, registered in a binfmt_misc of the run's own), with the machine's wine32:i386 (the kernel cannot execute them)" <<<"$line" ||
  fail "emulated: the path line: $line"
: >"$FAKE_LOG"
out=$(HOME=$work "$root/tools/wine-run.sh" "$work/program.exe" --keys 2>&1) || fail "emulated: wine-run.sh on a 32-bit program exited $?: $out"
expect_call "^in a user namespace: $work/i386-program $work/program.exe --keys$"
expect_call "^i386 program: $work/program.exe --keys$"
# A loader that prints its environment stands in for Wine's, which a fresh
# machine does not have before setup installs it.
printf '#!/bin/sh\nenv\n' >"$work/env-loader" && chmod +x "$work/env-loader"
out=$(HOME=$work KOLVANE_WINE64_LOADER=$work/env-loader "$root/tools/wine-run.sh" program64.exe 2>&1)
grep -q "^WINEPREFIX=$work/.wine-kolvane64$" <<<"$out" || fail "emulated: a 64-bit program's prefix: $(grep WINE <<<"$out")"
out=$(HOME=$work KOLVANE_X86_RUNS=emulated KOLVANE_WINE32_LOADER=$work/env-loader "$root/tools/wine-run.sh" "$work/program.exe" 2>&1)
grep -q "^WINESERVER=/usr/lib/wine/wineserver64$" <<<"$out" && grep -q "^WINEPREFIX=$work/.wine-kolvane-wow64$" <<<"$out" ||
  fail "emulated: a 32-bit program's Wine: $(grep WINE <<<"$out")"
# Emulation once made ready is reused: apt is not called again.
: >"$FAKE_LOG"
out=$(FAKE_INSTALLED=all "$bootstrap" native windows wine32 2>&1) || fail "emulation reused: setup exited $?"
expect_no_call "apt-get|dpkg"

# The machine's own qemu honours MAP_FIXED_NOREPLACE: it is taken, nothing
# is fetched.
"$work/make-qemu" "$KOLVANE_MACHINE_QEMU_I386" 10.0.13
KEEP_QEMU=1 FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 run "machine's qemu" "$bootstrap" wine32
expect_code 0
expect_out "^setup: emulation with the machine's qemu-i386 version 10.0.13 \($KOLVANE_MACHINE_QEMU_I386\)$"
expect_no_call "download|dpkg-deb"
expect_call "install .*wine32:i386$"

# Backports has no qemu-user: the release's own is fetched where it passes
# the probe.
FAKE_NO_QEMU_IN="$FAKE_CODENAME-backports" FAKE_RELEASE_QEMU=10.0.13 FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 run "release's qemu" "$bootstrap" wine32
expect_code 0
expect_call "download qemu-user-static/$FAKE_CODENAME qemu-user/$FAKE_CODENAME$"
expect_out "^setup: emulation with qemu-i386 version 10.0.13 from $FAKE_CODENAME "

# Emulation unavailable, no usable qemu on the mirror (none in backports,
# the release's too old): setup ends well, asks for no wine32:i386, adds
# no i386 architecture, and the NOT RUN line gives both reasons.
FAKE_NO_QEMU_IN="$FAKE_CODENAME-backports" FAKE_INSTALLED="" run "qemu missing" "$bootstrap" native windows wine32
expect_code 0
expect_out "^i386-emulation.sh: no qemu-i386 for emulation: .*qemu-i386-static is missing, and none could be fetched \($FAKE_CODENAME-backports: Can't find a source to download version of 'qemu-user-static'; $FAKE_CODENAME: qemu-i386 version 7.2.22 does not honour MAP_FIXED_NOREPLACE"
expect_out "^setup: warning: the win32 build's tests will be NOT RUN$"
expect_no_call "install .*wine32:i386|debootstrap|i386 program|add-architecture"
[ ! -e "$KOLVANE_SETUP_STATE/qemu-i386" ] || fail "qemu missing: a qemu link was left"
reason=$("$root/tools/x86-check.sh")
[[ $reason == "no: this machine cannot execute 32-bit x86 programs (Exec format error); no qemu-i386 for emulation: "*"none could be fetched ("* ]] ||
  fail "qemu missing: x86-check.sh says '$reason'"
line=$("$root/tools/not-run.sh" win32)
grep -q "NOT RUN: this machine cannot execute 32-bit x86 programs (Exec format error); no qemu-i386 for emulation: " <<<"$line" ||
  fail "qemu missing: the not-run line: $line"
[ "$(grep -c NOT <<<"$line")" -eq 1 ] || fail "qemu missing: the not-run line is not one line: $line"
: >"$FAKE_LOG"
out=$("$root/tools/wine-run.sh" "$work/program.exe" 2>&1)
code=$?
[ $code -eq 77 ] || fail "qemu missing: wine-run.sh on a 32-bit program exited $code: $out"
expect_no_call "in a user namespace|i386 program"

# A qemu named by KOLVANE_QEMU_I386 that fails the probe: said, not replaced.
"$work/make-qemu" "$work/own-qemu" 7.2.22
out=$(KOLVANE_QEMU_I386=$work/own-qemu FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 "$bootstrap" wine32 2>&1)
grep -q "no qemu-i386 for emulation: qemu-i386 version 7.2.22 does not honour MAP_FIXED_NOREPLACE" <<<"$out" && [ "$(head -c 2 "$work/own-qemu")" = "#!" ] ||
  fail "named qemu: $out"

# Emulation turned off (KOLVANE_EMULATE_32BIT=0): nothing of it is asked
# for (no qemu, no i386 architecture, no wine32:i386), and the NOT RUN line
# says why and names the switch.
KOLVANE_EMULATE_32BIT=0 FAKE_INSTALLED="" run "emulation off" "$bootstrap" native windows wine32
expect_code 0
expect_call "apt-get .* install .*wine64"
expect_no_call "qemu|i386|in a user namespace|binfmt|debootstrap"
expect_out "^setup: not installing wine32:i386: this machine cannot execute 32-bit x86 programs \(Exec format error\); user-mode emulation is turned off \(KOLVANE_EMULATE_32BIT=0\)$"
reason=$(KOLVANE_EMULATE_32BIT=0 "$root/tools/x86-check.sh")
[ "$reason" = "no: this machine cannot execute 32-bit x86 programs (Exec format error); user-mode emulation is turned off (KOLVANE_EMULATE_32BIT=0)" ] ||
  fail "emulation off: x86-check.sh says '$reason'"

# Emulation unavailable, the registration refused (a kernel before 6.7, or
# one without user namespaces): qemu is fetched, wine32:i386 is not installed.
for refusal in FAKE_BINFMT_REFUSED FAKE_USERNS_REFUSED; do
  export "$refusal=1"
  FAKE_INSTALLED="" run "registration refused ($refusal)" "$bootstrap" native windows wine32
  expect_code 0
  expect_call "download qemu-user-static/"
  expect_no_call "install .*wine32:i386|i386 program|add-architecture"
  expect_out "not installing wine32:i386: this machine cannot execute 32-bit x86 programs \(Exec format error\), and emulation does not run: the registration of i386 was refused"
  reason=$("$root/tools/x86-check.sh")
  grep -q "^no: this machine cannot execute 32-bit x86 programs (Exec format error); emulation does not run: the registration of i386 was refused: .*\(permission denied\|Operation not permitted\)" <<<"$reason" ||
    fail "registration refused ($refusal): x86-check.sh says '$reason'"
  unset "$refusal"
done
# Refused where a usable qemu is there already: nothing is installed at all.
"$work/make-qemu" "$KOLVANE_MACHINE_QEMU_I386" 10.0.13
KEEP_QEMU=1 FAKE_BINFMT_REFUSED=1 FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 run "registration refused, qemu there" "$bootstrap" native windows wine32
expect_no_call "apt-get|dpkg "
expect_out "not installing wine32:i386: .*the registration of i386 was refused"

# Not root: the qemu is fetched all the same (it needs no root), and the
# command that installs wine32:i386 is printed.
FAKE_UID=1000 FAKE_INSTALLED=all FAKE_NOT_INSTALLED="wine32:i386" run "not root, emulated" "$bootstrap" wine32
expect_code 0
expect_call "download qemu-user-static/"
expect_no_call "install "
expect_out "apt-get install -y --no-install-recommends wine32:i386$"
line=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/not-run.sh" win32)
grep -q "NOT RUN: this machine cannot execute 32-bit x86 programs (Exec format error); wine32:i386 is not installed and setup is not root" <<<"$line" ||
  fail "not root, emulated: the not-run line: $line"

# KOLVANE_NO_32BIT=1 still means no 32-bit execution in any way, and wins
# over KOLVANE_EMULATE_32BIT=1: no qemu.
KOLVANE_NO_32BIT=1 FAKE_INSTALLED="" run "no 32-bit forced" "$bootstrap" native windows wine32
expect_code 0
expect_no_call "qemu|i386"
reason=$(KOLVANE_EMULATE_32BIT=1 KOLVANE_NO_32BIT=1 "$root/tools/x86-check.sh")
[ "$reason" = "no: KOLVANE_NO_32BIT=1 is set (it wins over KOLVANE_EMULATE_32BIT=1)" ] || fail "no 32-bit forced: x86-check.sh says '$reason'"
reason=$(KOLVANE_NO_32BIT=1 "$root/tools/x86-check.sh")
[ "$reason" = "no: KOLVANE_NO_32BIT=1 is set" ] || fail "no 32-bit forced, no switch: x86-check.sh says '$reason'"

# The i386 root under emulation: tried with i386 registered, and refused
# with the reason, as debootstrap cannot make device nodes there.
KOLVANE_WINE32_ROOT=1 FAKE_INSTALLED="" run "root, emulated" "$bootstrap" wine32
expect_code 0
expect_call "download qemu-user-static/"
expect_call "^in a user namespace: tools/i386-root.sh create$"
expect_no_call "^debootstrap "
expect_out "the i386 root could not be made \(it cannot be made under emulation: debootstrap makes device nodes"
export KOLVANE_X86_PROBE=/bin/true
unset KOLVANE_WINE32_LOADER KOLVANE_EMULATE_32BIT

# KOLVANE_EMULATE_32BIT=1 takes emulation where the kernel executes i386
# programs; without it, such a machine never asks for qemu.
KOLVANE_EMULATE_32BIT=1 FAKE_INSTALLED="" run "emulation forced" "$bootstrap" native windows wine32
expect_code 0
expect_out "^setup: emulation with qemu-i386 version 10.0.2 from $FAKE_CODENAME-backports "
expect_call "apt-get .* install .*wine32:i386$"
reason=$(KOLVANE_EMULATE_32BIT=1 KOLVANE_WINE32_LOADER=$work/i386-program "$root/tools/x86-check.sh")
[ "$reason" = emulated ] || fail "emulation forced: x86-check.sh says '$reason'"
line=$(KOLVANE_EMULATE_32BIT=1 KOLVANE_WINE32_LOADER=$work/i386-program bash -c "source '$root/tools/wine-env.sh' && kolvane_x86_path_line")
grep -q "(forced by KOLVANE_EMULATE_32BIT=1)" <<<"$line" || fail "emulation forced: the path line: $line"
FAKE_INSTALLED="" run "native" "$bootstrap" native windows wine32
expect_code 0
expect_no_call "qemu|in a user namespace|binfmt"
reason=$(KOLVANE_WINE32_LOADER=/bin/true "$root/tools/x86-check.sh")
[ "$reason" = yes ] || fail "native: x86-check.sh says '$reason'"
line=$(KOLVANE_WINE32_LOADER=/bin/true bash -c "source '$root/tools/wine-env.sh' && kolvane_x86_path_line")
[ "$line" = "win32: the x86 programs run natively, with the machine's wine32:i386" ] || fail "native: the path line: $line"

# Not root, where wine32:i386 is missing: no root is attempted, and the
# NOT RUN line says why.
FAKE_UID=1000 FAKE_INSTALLED=all FAKE_NOT_INSTALLED=wine32:i386 run "not root, no wine32" "$bootstrap" wine32
expect_code 0
expect_no_call "apt-get|debootstrap|in the root"
line=$(KOLVANE_WINE32_LOADER=$work/no-loader "$root/tools/not-run.sh" win32)
grep -q "NOT RUN: wine32:i386 is not installed and setup is not root" <<<"$line" || fail "not root, no wine32: the not-run line: $line"

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
echo "setup: each target asks only for what it needs; a broken mirror, a failed install, the i386 root (made, reused, failing), and the path for 32-bit programs (native, emulated with the machine's qemu or a fetched one, emulation turned off, emulation unavailable, forced) handled"
