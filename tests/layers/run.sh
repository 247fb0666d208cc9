#!/usr/bin/env bash
# The layer check (tools/check-layers.sh) passes on this tree and, in a copy
# of it with one fault injected at a time, catches includes that reach up
# (by name, by climbing with ../, with <>) or climb out of the tree and link
# edges that reach up (on one line or over several, through a variable, or
# set on another folder's target), while a ../ within the own folder passes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/tools/check-layers.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$check" "$root" >/dev/null

pristine=$scratch/pristine
mkdir "$pristine"
(cd "$root" && git ls-files -z -- CMakeLists.txt cmake tools/layers.txt include receiver platform trace module testbed \
  host bench fuzz tests examples | xargs -0 cp --parents -t "$pristine")
copy=$scratch/copy
fresh() { rm -rf "$copy" && cp -a "$pristine" "$copy"; }
fail() {
  echo "layers test: FAIL: $*" >&2
  exit 1
}
# append FILE LINES...: adds the lines to FILE in the copy; first is the
# number the first of them gets.
append() {
  local file=$copy/$1
  shift
  first=$(($(wc -l <"$file") + 1))
  printf '%s\n' "$@" >>"$file"
}
# caught WHAT EXPECTED...: the check fails on the copy, printing each line.
caught() {
  local what=$1 out expected
  shift
  out=$("$check" "$copy" 2>&1) && fail "$what passed:"$'\n'"$out"
  for expected in "$@"; do
    grep -qxF -- "$expected" <<<"$out" || fail "$what: expected '$expected' in:"$'\n'"$out"
  done
}
receiver_rule='(tools/layers.txt: receiver/ may use itself and kolvane/)'
trace_rule='(tools/layers.txt: trace/ may use itself and kolvane/, text/, receiver/)'
bench_rule='(tools/layers.txt: bench/ may use itself and kolvane/, text/, testbed/, trace/, receiver/, platform/)'

fresh
append receiver/key_decoder.cpp '#include "host/script.h"'
caught "an include of host/ from receiver/" \
  "receiver/key_decoder.cpp:$first: receiver/ may not include host/ $receiver_rule" \
  "layers: 1 include(s) and 0 link(s) reach outside their layer"

fresh
append receiver/key_decoder.cpp '#include "../host/script.h"' '#include <trace/../host/script.h>' '#include "./host/script.h"'
caught "includes that reach host/ from receiver/ by way of ../ and ./" \
  "receiver/key_decoder.cpp:$first: receiver/ may not include host/ $receiver_rule" \
  "receiver/key_decoder.cpp:$((first + 1)): receiver/ may not include host/ $receiver_rule" \
  "receiver/key_decoder.cpp:$((first + 2)): receiver/ may not include host/ $receiver_rule" \
  "layers: 3 include(s) and 0 link(s) reach outside their layer"

fresh
append receiver/key_decoder.cpp '#include "../../outside.h"' '#include <../receiver/key_decoder.h>'
caught "includes that climb out of the tree" \
  "receiver/key_decoder.cpp:$first: receiver/ may not include ../../outside.h: it climbs out of the tree $receiver_rule" \
  "receiver/key_decoder.cpp:$((first + 1)): receiver/ may not include ../receiver/key_decoder.h: it climbs out of the tree $receiver_rule"

fresh
mkdir -p "$copy/receiver/inner"
printf '%s\n' '#include "../key_decoder.h"' '#include "./../inner/../key_decoder.h"' >"$copy/receiver/inner/part.cpp"
out=$("$check" "$copy" 2>&1) || fail "a ../ that stays in receiver/ was refused:"$'\n'"$out"

fresh
append receiver/CMakeLists.txt 'target_link_libraries(kolvane_receiver PUBLIC kolvane_host_core)'
caught "a link of host/'s target from receiver/" \
  "receiver/CMakeLists.txt:$first: receiver/ may not link kolvane_host_core of host/ $receiver_rule" \
  "layers: 0 include(s) and 1 link(s) reach outside their layer"

fresh
append trace/CMakeLists.txt 'target_link_libraries(' '  kolvane_trace # the writer' '  PUBLIC kolvane_receiver Threads::Threads' \
  '  PRIVATE $<$<BOOL:ON>:kolvane_platform> GTest::gtest' '          ${CMAKE_DL_LIBS} "kolvane_receiver;kolvane_testbed")'
caught "a link over several lines from trace/" \
  "trace/CMakeLists.txt:$((first + 3)): trace/ may not link kolvane_platform of platform/ $trace_rule" \
  "trace/CMakeLists.txt:$((first + 4)): trace/ may not link kolvane_testbed of testbed/ $trace_rule" \
  "layers: 0 include(s) and 2 link(s) reach outside their layer"

fresh
append bench/CMakeLists.txt 'set(KOLVANE_BENCH_EXTRA kolvane_host_core)' 'target_link_libraries(kolvane-bench PRIVATE ${KOLVANE_BENCH_EXTRA})'
bench_line=$((first + 1))
append tests/CMakeLists.txt 'target_link_libraries(kolvane_receiver INTERFACE kolvane_testbed)'
caught "links through a variable and on another folder's target" \
  "bench/CMakeLists.txt:$bench_line: bench/ may not link kolvane_host_core of host/ $bench_rule" \
  "tests/CMakeLists.txt:$first: receiver/ may not link kolvane_testbed of testbed/ $receiver_rule"

echo "layers: the check passes this tree and names each include and link that reaches up or out"
