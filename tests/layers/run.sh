#!/usr/bin/env bash
# The layer check (tools/check-layers.sh), in a copy of this tree with faults
# injected, names each fault and nothing else, so it passes the tree itself:
# includes that reach up (by name, by climbing with ../, with <>, from one
# room of a folder into another) or out of the tree, link edges that reach up (on one line or over several, through a
# variable, or set on another folder's target), a folder that compiles
# another folder's source, and a README whose picture or table says
# otherwise than tools/layers.txt; while a ../ within the own folder passes.
# The faults are injected together, so the copy is configured (into a
# scratch folder) and checked once.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/tools/check-layers.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "layers test: FAIL: $*" >&2
  exit 1
}

copy=$scratch/tree/copy
mkdir -p "$copy"
(cd "$root" && git ls-files -z -- CMakeLists.txt CMakePresets.json README.md cmake tools include text receiver platform diagnosis \
  trace module testbed host bench fuzz tests examples | xargs -0 cp --parents -t "$copy")
# append FILE LINES...: adds the lines to FILE in the copy; first is the
# number the first of them gets.
append() {
  local file=$copy/$1
  shift
  first=$(($(wc -l <"$file") + 1))
  printf '%s\n' "$@" >>"$file"
}
receiver_rule='(tools/layers.txt: receiver/ may use itself and include/kolvane/)'
trace_rule='(tools/layers.txt: trace/ may use itself and include/kolvane/, text/, receiver/)'
bench_rule='(tools/layers.txt: bench/ may use itself and include/kolvane/, text/, testbed/, trace/, receiver/, platform/)'
expected=()

append receiver/key_decoder.cpp '#include "host/script/script.h"' '#include "../host/script/script.h"' '#include <trace/../host/script/script.h>'
for n in 0 1 2; do expected+=("receiver/key_decoder.cpp:$((first + n)): receiver/ may not include host/script/ $receiver_rule"); done

append host/script/key_names.cpp '#include "host/session/session.h"'
expected+=("host/script/key_names.cpp:$first: host/script/ may not include host/session/ (tools/layers.txt: host/script/ may use itself and include/kolvane/, text/, trace/, receiver/)")

echo '#define KOLVANE_OUTSIDE 1' >"$scratch/tree/outside.h"
append receiver/remote_keys.cpp '#include "../../outside.h"'
expected+=("receiver/remote_keys.cpp:$first: receiver/ may not include $scratch/tree/outside.h: it lies outside the tree $receiver_rule")

mkdir -p "$copy/receiver/inner"
printf '%s\n' '#include "../key_decoder.h"' '#include "./../inner/../key_decoder.h"' >"$copy/receiver/inner/part.h"
append receiver/key_decoder.cpp '#include "receiver/inner/part.h"'

append receiver/CMakeLists.txt 'target_link_libraries(kolvane_receiver PUBLIC kolvane_text)'
expected+=("receiver/CMakeLists.txt:$first: receiver/ may not link kolvane_text of text/ $receiver_rule")

append trace/CMakeLists.txt 'target_link_libraries(' '  kolvane_trace # the writer' '  PUBLIC kolvane_receiver Threads::Threads' \
  '  PRIVATE $<$<BOOL:ON>:kolvane_platform> ${CMAKE_DL_LIBS})'
expected+=("trace/CMakeLists.txt:$first: trace/ may not link kolvane_platform of platform/ $trace_rule")

append bench/CMakeLists.txt 'set(KOLVANE_BENCH_EXTRA kolvane_host_session)' 'target_link_libraries(kolvane-bench PRIVATE ${KOLVANE_BENCH_EXTRA})'
expected+=("bench/CMakeLists.txt:$((first + 1)): bench/ may not link kolvane_host_session of host/session/ $bench_rule")

append tests/CMakeLists.txt 'target_link_libraries(kolvane_iids PRIVATE kolvane_receiver)'
expected+=("tests/CMakeLists.txt:$first: include/ may not link kolvane_receiver of receiver/ (tools/layers.txt: include/ may use only itself)")

append platform/CMakeLists.txt 'target_sources(kolvane_platform PRIVATE ${PROJECT_SOURCE_DIR}/text/printable.cpp)'
expected+=("platform/CMakeLists.txt:$first: platform/ may not compile text/printable.cpp: it is text/'s (a folder compiles its own sources only)")

sed -i 's/^testbed     kolvane$/testbed     kolvane platform/' "$copy/tools/layers.txt"
expected+=("README.md: the Layout row of testbed/ may use 'include/', tools/layers.txt 'include/ platform/'")

sed -i 's|^3   \([^ ]*\)   \([^ ]*\)|3   \2   \1|' "$copy/README.md"
expected+=("README.md: the picture of the layers differs from tools/layers.txt (tools/check-layers.sh --readme writes it)")

out=$("$check" "$copy" "$scratch/build" 2>&1) && fail "the faults passed:"$'\n'"$out"
for line in "${expected[@]}"; do
  grep -qxF -- "$line" <<<"$out" || fail "expected '$line' in:"$'\n'"$out"
done
grep -q "inner/part.h" <<<"$out" && fail "a ../ that stays in receiver/ was refused:"$'\n'"$out"
grep -qxF "layers: 5 include(s), 4 link(s), 1 source(s) and 2 README line(s) reach outside their layer" <<<"$out" ||
  fail "other findings than the faults:"$'\n'"$out"

echo "layers: the check passes this tree and names each include, link, source and README line that reaches up or out"
