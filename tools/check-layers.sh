#!/usr/bin/env bash
# Fails on any #include that reaches outside what tools/layers.txt allows its
# folder, naming the file, the line and the rule. Part of `make lint`.
# Usage: check-layers.sh [TREE]   (default: this checkout)
set -euo pipefail
tree=${1:-$(cd "$(dirname "$0")/.." && pwd)}
table=$tree/tools/layers.txt
cd "$tree"

declare -A allowed=()
while read -r folder rest; do
  [[ -z "$folder" || "$folder" == \#* ]] && continue
  allowed[$folder]=" $folder ${rest//-/} "
done <"$table"

may_include() { # folder: " a/, b/" or " nothing of ours"
  local list=() name
  for name in ${allowed[$1]}; do [ "$name" != "$1" ] && list+=("$name/"); done
  [ ${#list[@]} -eq 0 ] && { echo " only itself"; return; }
  local IFS=,
  echo " itself and ${list[*]}" | sed 's/,/, /g'
}

# Top-level names an include may reach: the project's folders and the public
# interface; anything else (gtest/, sys/, windows.h) is not ours.
ours=" kolvane ${!allowed[*]} "
violations=0
while IFS= read -r -d '' file; do
  folder=${file%%/*}
  rule=${allowed[$folder]:-}
  if [ -z "$rule" ]; then
    continue
  fi
  line_number=0
  while IFS= read -r line; do
    line_number=$((line_number + 1))
    [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\<\"]([A-Za-z0-9_.-]+)/ ]] || continue
    target=${BASH_REMATCH[1]}
    [[ "$ours" == *" $target "* ]] || continue
    if [[ "$rule" != *" $target "* ]]; then
      echo "$file:$line_number: $folder/ may not include $target/ (tools/layers.txt: $folder/ may include$(may_include "$folder"))" >&2
      violations=$((violations + 1))
    fi
  done <"$file"
done < <(for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] && find "$folder" -type f \( -name '*.h' -o -name '*.c' -o -name '*.cpp' \) -print0
done)

if [ "$violations" -ne 0 ]; then
  echo "layers: $violations include(s) reach outside their layer" >&2
  exit 1
fi
echo "layers: every include stays within its layer (tools/layers.txt)"
