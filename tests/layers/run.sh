#!/usr/bin/env bash
# The layer check (tools/check-layers.sh) passes on this tree and catches an
# include that reaches up: a receiver/ source that includes host/script.h.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT

"$root/tools/check-layers.sh" "$root" >/dev/null

(cd "$root" && git ls-files -z -- include receiver platform trace module testbed host bench fuzz tests |
  xargs -0 cp --parents -t "$copy")
echo '#include "host/script.h"' >>"$copy/receiver/key_decoder.cpp"
mkdir -p "$copy/tools" && cp "$root/tools/layers.txt" "$copy/tools/"
line=$(wc -l <"$copy/receiver/key_decoder.cpp")
if out=$("$root/tools/check-layers.sh" "$copy" 2>&1); then
  echo "layers test: FAIL: an include of host/ from receiver/ passed:"$'\n'"$out" >&2
  exit 1
fi
expected="receiver/key_decoder.cpp:$line: receiver/ may not include host/ (tools/layers.txt: receiver/ may include itself and kolvane/)"
if ! grep -qF -- "$expected" <<<"$out"; then
  echo "layers test: FAIL: expected '$expected' in:"$'\n'"$out" >&2
  exit 1
fi
echo "layers: the check passes this tree and names an include that reaches up"
