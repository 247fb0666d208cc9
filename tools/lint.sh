#!/bin/bash
# make lint: the house format (.clang-format) on every C and C++ file, and
# clang-tidy (.clang-tidy) on every project source the Linux build compiles,
# with the static analyzer added on the module's own code. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/linux
jobs=${LINT_JOBS:-2}
project_dirs='include|module|receiver|log|platform|host|bench|fuzz|tests'
core_dirs='module|receiver|log|platform'
analyzer='clang-analyzer-*,-clang-analyzer-security.insecureAPI.DeprecatedOrUnsafeBufferHandling'

echo "lint: clang-format"
git ls-files -z '*.h' '*.c' '*.cpp' | xargs -0 clang-format --dry-run -Werror

cmake --preset linux >/dev/null # the compile commands clang-tidy reads
sources() { # project sources in the compile commands, under the folders given
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | sort -u | grep -E "^$PWD/($1)/" || true
}
tidy() { # extra checks, then folders
  local files
  files=$(sources "$2")
  [ -n "$files" ] || { echo "lint: no sources under $2 in $build" >&2; return 1; }
  # "N warnings generated" counts what the header filter hides; findings are errors.
  tr '\n' '\0' <<<"$files" |
    xargs -0 -n 1 -P "$jobs" clang-tidy --quiet -p "$build" --header-filter="^$PWD/($project_dirs)/" --checks="$1" \
      2> >(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' >&2)
}

echo "lint: clang-tidy"
tidy '' 'host|bench|fuzz|tests'
echo "lint: clang-tidy and the static analyzer on the module"
tidy "$analyzer" "$core_dirs"
echo "lint: clean"
