#!/usr/bin/env bash
# Builds the key decoder fuzz target with clang (libFuzzer, ASan, UBSan) and
# runs it for the given number of seconds. New inputs go to a corpus under
# the build directory; fuzz/corpus holds the seeds and is only read.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build/fuzz}
cxx=${FUZZ_CXX:-clang++}

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz: $cxx not found; libFuzzer needs clang" >&2
  exit 1
fi

mkdir -p "$out/corpus"
target=$out/key_decoder_fuzz
sources=("$root/fuzz/key_decoder_fuzz.cpp" "$root/receiver/key_decoder.cpp")
headers=("$root/receiver/key_decoder.h" "$root/tests/unit/decoder_model.h" "$root/tests/unit/decoder_lockstep.h")

stale=false
[[ -x $target ]] || stale=true
for file in "${sources[@]}" "${headers[@]}"; do
  [[ $file -nt $target ]] && stale=true
done
if $stale; then
  "$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wall -Wextra -Wconversion -Wshadow -Werror -I"$root" "${sources[@]}" -o "$target"
fi

"$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" "$root/fuzz/corpus"
