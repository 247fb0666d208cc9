#!/usr/bin/env bash
# Fails on any #include or link edge (target_link_libraries) that reaches
# outside what tools/layers.txt allows its folder, naming the file, the line
# and the rule. Part of `make lint`.
# Usage: check-layers.sh [TREE]   (default: this checkout)
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
tree=${1:-$(dirname "$tools")}
table=$tree/tools/layers.txt
cd "$tree"

declare -A allowed=()
while read -r folder rest; do
  [[ -z "$folder" || "$folder" == \#* ]] && continue
  allowed[$folder]=" $folder ${rest//-/} "
done <"$table"

may_use() { # folder: " itself and a/, b/" or " only itself"
  local list=() name
  for name in ${allowed[$1]}; do [ "$name" != "$1" ] && list+=("$name/"); done
  [ ${#list[@]} -eq 0 ] && { echo " only itself"; return; }
  local IFS=,
  echo " itself and ${list[*]}" | sed 's/,/, /g'
}

violations=0
# A use by FILE:LINE of folder FOLDER of what lies in TO, a folder of the
# tree or a file at its top: allowed if TO is FOLDER itself or a folder the
# table lets FOLDER use. VERB says how: "include", "link kolvane_x of".
check_use() { # file line folder verb to
  local file=$1 line=$2 folder=$3 verb=$4 to=$5 shown=$5 name=$5
  [ "$to" = "$folder" ] && return 0
  if [ -d "$to" ] || [ ! -e "$to" ]; then
    # The table calls include/ by the name its code is included by: kolvane/.
    [ "$to" = include ] && name=kolvane
    [[ "${allowed[$folder]}" == *" $name "* ]] && return 0
    shown=$to/
  fi
  echo "$file:$line: $folder/ may not $verb $shown (tools/layers.txt: $folder/ may use$(may_use "$folder"))" >&2
  violations=$((violations + 1))
}

# normalize PATH: REPLY is PATH without "." and "..", relative to the top of
# the tree; fails if PATH climbs above it.
normalize() {
  local rest=$1/ part out=()
  while [ -n "$rest" ]; do
    part=${rest%%/*}
    rest=${rest#*/}
    case $part in
    '' | .) ;;
    ..)
      [ ${#out[@]} -gt 0 ] || return 1
      unset 'out[${#out[@]}-1]'
      ;;
    *) out+=("$part") ;;
    esac
  done
  local IFS=/
  REPLY=${out[*]}
}

# Includes, resolved as the compiler does: "x" first beside the including
# file, then, like <x>, in the include roots every target gives (the top of
# the tree and include/). The first file found in the tree is what is
# included; a path that climbs out of the tree on the way is refused, since
# what it reaches depends on what lies beside the checkout. A path found
# nowhere is judged by its first folder (host/x.h), or is not ours.
ours=" kolvane ${!allowed[*]} "
check_include() { # file line folder form path
  local file=$1 line=$2 folder=$3 form=$4 path=${5//\\//} base bases=("" include)
  [[ "$path" == /* ]] && {
    echo "$file:$line: $folder/ may not include $path: it lies outside the tree (tools/layers.txt: $folder/ may use$(may_use "$folder"))" >&2
    violations=$((violations + 1))
    return
  }
  [ "$form" = '"' ] && bases=("${file%/*}" "${bases[@]}")
  for base in "${bases[@]}"; do
    if ! normalize "$base/$path"; then
      echo "$file:$line: $folder/ may not include $path: it climbs out of the tree (tools/layers.txt: $folder/ may use$(may_use "$folder"))" >&2
      violations=$((violations + 1))
      return
    fi
    if [ -f "$REPLY" ]; then
      check_use "$file" "$line" "$folder" include "${REPLY%%/*}"
      return
    fi
  done
  normalize "$path" && [[ "$REPLY" == */* && "$ours" == *" ${REPLY%%/*} "* ]] || return 0
  local to=${REPLY%%/*}
  [ "$to" = kolvane ] && to=include
  check_use "$file" "$line" "$folder" include "$to"
}

include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*(<([^>]*)>|"([^"]*)")'
while IFS= read -r -d '' file; do
  folder=${file%%/*}
  line_number=0
  while IFS= read -r line; do
    line_number=$((line_number + 1))
    [[ "$line" =~ $include_line ]] || continue
    if [ -n "${BASH_REMATCH[2]}" ]; then
      check_include "$file" "$line_number" "$folder" '<' "${BASH_REMATCH[2]}"
    else
      check_include "$file" "$line_number" "$folder" '"' "${BASH_REMATCH[3]}"
    fi
  done <"$file"
done < <(for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] && find "$folder" -type f \( -name '*.h' -o -name '*.c' -o -name '*.cpp' \) -print0
done)
included=$violations

# Link edges. Each target belongs to the folder whose CMakeLists.txt defines
# it (add_library, add_executable, or a function of ours that calls one on
# its first argument, like kolvane_test); kolvane_headers, defined with the
# installation, is include/'s. The same table holds for links as for
# includes: a folder links what it may include.
cmake_files=()
for file in CMakeLists.txt cmake/*.cmake; do [ -f "$file" ] && cmake_files+=("$file"); done
while IFS= read -r -d '' file; do cmake_files+=("$file"); done < <(for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] && find "$folder" -type f -name CMakeLists.txt -print0
done)
while IFS=$'\t' read -r file line folder target to; do
  check_use "$file" "$line" "$folder" "link $target of" "$to"
done < <(awk -v layers=" ${!allowed[*]} " -v outside="kolvane_headers=include" -f "$tools/link-edges.awk" "${cmake_files[@]}")

if [ "$violations" -ne 0 ]; then
  echo "layers: $included include(s) and $((violations - included)) link(s) reach outside their layer" >&2
  exit 1
fi
echo "layers: every include and every link stays within its layer (tools/layers.txt)"
