#!/usr/bin/env bash
# make lint: the layering (tools/layers.txt: no include, link or compiled
# source reaches outside its layer, read from the build), the house format
# (.clang-format) on every C and C++ file, and clang-tidy (.clang-tidy) on
# every project source the Linux build compiles and on the Windows-only ones
# the win32 build compiles, with the static analyzer added on the module's own
# code and the diagnosis. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${LINT_JOBS:-2}
project_dirs='include|text|module|trace|diagnosis|receiver|platform|testbed|host|bench|fuzz|tests|examples'
core_dirs='include|module|trace|diagnosis|receiver|platform'
analyzer='clang-analyzer-*,-clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling'
mingw=i686-w64-mingw32-g++-posix


echo "lint: clang-format"
git ls-files -z '*.h' '*.c' '*.cpp' | xargs -0 clang-format --dry-run -Werror

sources() { # compile commands, folders: the project sources compiled there
  cmake -DCOMMANDS="$1/compile_commands.json" -P cmake/compiled_sources.cmake | sort -u | grep -E "^$PWD/($2)/" || true
}
tidy() { # build folder, extra checks, files (one a line), extra clang-tidy arguments...
  local build=$1 checks=$2 files=$3
  shift 3
  [ -n "$files" ] || { echo "lint: nothing to check in $build" >&2; return 1; }
  # "N warnings generated" counts what the header filter hides; findings are errors.
  tr '\n' '\0' <<<"$files" |
    xargs -0 -n 1 -P "$jobs" clang-tidy --quiet -p "$build" --header-filter="^$PWD/($project_dirs)/" --checks="$checks" "$@" \
      2> >(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' >&2)
}

cmake --preset linux >/dev/null
echo "lint: layers"
tools/check-layers.sh . build/linux
echo "lint: clang-tidy"
tidy build/linux '' "$(sources build/linux 'text|testbed|host|bench|fuzz|tests|examples')"
echo "lint: clang-tidy and the static analyzer on the module"
tidy build/linux "$analyzer" "$(sources build/linux "$core_dirs")"

# The Windows-only sources, as the win32 build compiles them. clang reads
# mingw's headers; it lacks GCC's -fno-keep-inline-dllexport.
cmake --preset win32 >/dev/null
mkdir -p build/lint-win32
sed 's/ -fno-keep-inline-dllexport//' build/win32/compile_commands.json >build/lint-win32/compile_commands.json
windows_only=$(comm -23 <(sources build/lint-win32 "$project_dirs") <(sources build/linux "$project_dirs"))
mingw_includes=()
while read -r dir; do mingw_includes+=("--extra-arg=-isystem$dir"); done < <(
  echo | "$mingw" -E -x c++ - -v 2>&1 | sed -n '/#include <...> search starts here/,/End of search list/s/^ //p' |
    grep -E '/c\+\+|mingw32/include$')
echo "lint: clang-tidy and the static analyzer on the Windows-only sources"
tidy build/lint-win32 "$analyzer" "$windows_only" --extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++ \
  "${mingw_includes[@]}"
echo "lint: clean"
