#!/usr/bin/env bash
# Builds the key decoder fuzz target (the fuzz preset: clang, libFuzzer,
# ASan, UBSan) and runs it for the given number of seconds. New inputs go to
# a corpus under the build directory; fuzz/corpus holds the seeds and is only
# read.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/fuzz

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found; libFuzzer needs clang" >&2
  exit 1
fi

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target key_decoder_fuzz
mkdir -p "$out/corpus"
"$out/bin/key_decoder_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" "$root/fuzz/corpus"
