#!/usr/bin/env bash
# The path of a machine that cannot execute 32-bit x86 programs, taken on
# any machine with KOLVANE_NO_32BIT=1, against the built win32 tree:
# - `make test-win32` exits 0, runs the static checks and prints the line
#   naming what was not run;
# - a 32-bit program is refused with the reason, not started;
# - the DLL's static checks still fail on a broken copy of kolvane.dll.
set -euo pipefail
cd "$(dirname "$0")/../.."
export KOLVANE_NO_32BIT=1
unset KOLVANE_X86_RUNS

failures=0
fail() { echo "no32bit: FAIL: $*" >&2; failures=$((failures + 1)); }
expect_in() { # what, pattern, text
  grep -Eq -- "$2" <<<"$3" || fail "$1: expected /$2/ in:"$'\n'"$3"
}

out=$(tools/test-windows.sh win32 2>&1) || fail "test-win32 exited $? on a sound build:"$'\n'"$out"
expect_in "the not-run line" "win32: kolvane.dll built and checked; its tests were NOT RUN: KOLVANE_NO_32BIT=1 is set" "$out"
expect_in "the DLL's checks" "dll_binary_interface \.+ +Passed" "$out"
expect_in "the archive's checks" "dist_archive_contents \.+ +Passed" "$out"
if grep -Eq "unit_tests|module_tests|host_cli|c_host|runs_demo" <<<"$out"; then
  fail "a test that runs a 32-bit program was started:"$'\n'"$out"
fi

code=0
out=$(tools/wine-run.sh build/win32/bin/kolvane-host.exe --keys 2>&1) || code=$?
[ "$code" -eq 77 ] || fail "wine-run.sh on a 32-bit program exited $code, expected 77"
expect_in "the refusal" "kolvane-host.exe is a 32-bit x86 program and was NOT RUN: KOLVANE_NO_32BIT=1 is set" "$out"

# A copy of the DLL with its export misnamed, given to the same check the
# build runs (the build's own file is left alone: another test may use it).
dll=build/win32/bin/kolvane.dll
broken=$(mktemp -d)
trap 'rm -rf "$broken"' EXIT
cp "$dll" "$broken/kolvane.dll"
perl -0777 -pi -e 's/_GetInterfacePtr\@0/_GetInterfacePtr\@4/' "$broken/kolvane.dll"
check=$(ctest --preset win32 -R '^dll_binary_interface$' -N -V | sed -n 's/^.*Test command: //p')
[ -n "$check" ] || fail "no dll_binary_interface test in the win32 build"
check=${check//$PWD\/$dll/$broken/kolvane.dll}
if out=$(eval "$check" 2>&1); then
  fail "the DLL's checks passed a broken kolvane.dll:"$'\n'"$out"
fi
expect_in "the broken DLL's report" "export names: .*_GetInterfacePtr@4" "$out"

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "no32bit: the path without 32-bit execution: static checks run and catch a broken DLL, tests named as NOT RUN"
