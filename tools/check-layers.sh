#!/usr/bin/env bash
# Fails on any link, compiled source or #include that reaches outside what
# tools/layers.txt allows its folder, naming the file, the line and the rule;
# and on a README whose layer table or picture says otherwise than
# tools/layers.txt. Part of `make lint`. What is linked and compiled is read
# from CMake's own model of the build (its file API, tools/codemodel.cmake),
# what is included from the compiler (-H: every header it opens, and from
# which file).
# Usage: check-layers.sh [TREE [BUILD]]   (default: this checkout, its build/linux)
#        check-layers.sh --readme [TREE]  (writes README.md's picture from the table)
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
write_readme=0
if [ "${1:-}" = --readme ]; then
  write_readme=1
  shift
fi
tree=$(cd "${1:-$(dirname "$tools")}" && pwd)
build=${2:-$tree/build/linux}
table=$tree/tools/layers.txt
cd "$tree"

declare -A allowed=()
folders=()
while read -r folder rest; do
  [[ -z "$folder" || "$folder" == \#* ]] && continue
  allowed[$folder]=" $folder ${rest//-/} "
  folders+=("$folder")
done <"$table"

# The table calls include/ by the name its code is included by: kolvane/.
shown_name() { [ "$1" = kolvane ] && echo include/kolvane/ || echo "$1/"; }
may_use() { # folder: " itself and a/, b/" or " only itself"
  local list=() name
  for name in ${allowed[$1]}; do [ "$name" != "$1" ] && list+=("$(shown_name "$name")"); done
  [ ${#list[@]} -eq 0 ] && { echo " only itself"; return; }
  local IFS=,
  echo " itself and ${list[*]}" | sed 's/,/, /g'
}

# README.md's picture of the layers, from the table: each folder on the line
# of its level, one above the highest it uses.
declare -A level=()
level_of() { # folder
  [ -n "${level[$1]:-}" ] && return
  local name top=0
  for name in ${allowed[$1]}; do
    [ "$name" = "$1" ] && continue
    [ "$name" = kolvane ] && name=include
    level_of "$name"
    [ $((level[$name] + 1)) -gt $top ] && top=$((level[$name] + 1))
  done
  level[$1]=$top
}
picture() {
  local folder n top=0 line
  for folder in "${folders[@]}"; do
    level_of "$folder"
    [ "${level[$folder]}" -gt $top ] && top=${level[$folder]}
  done
  echo '```'
  for ((n = top; n >= 0; n--)); do
    line=""
    for folder in "${folders[@]}"; do
      [ "${level[$folder]}" -eq $n ] && line+="   $(shown_name "${folder/#include/kolvane}")"
    done
    echo "$n$line"
  done
  echo '```'
}
begin_mark='<!-- layers: written by tools/check-layers.sh --readme from tools/layers.txt -->'
end_mark='<!-- layers: end -->'
readme_picture() { sed -n "\|^$begin_mark\$|,\|^$end_mark\$|p" README.md | sed '1d;$d'; }
if [ $write_readme -eq 1 ]; then
  grep -qxF -- "$begin_mark" README.md || { echo "README.md has no line '$begin_mark'" >&2; exit 1; }
  picture >"$tree/.layers-picture"
  sed -i -e "\|^$begin_mark\$|,\|^$end_mark\$|{\|^$begin_mark\$|{p;r $tree/.layers-picture" -e "};\|^$end_mark\$|p;d}" README.md
  rm -f "$tree/.layers-picture"
  exit 0
fi

violations=0
said() {
  echo "$1" >&2
  violations=$((violations + 1))
}
# A use by FILE:LINE of folder FOLDER of what lies in TO, a folder of the
# tree or a file at its top: allowed if TO is FOLDER itself or a folder the
# table lets FOLDER use. VERB says how: "include", "link kolvane_x of".
check_use() { # file line folder verb to
  local file=$1 line=$2 folder=$3 verb=$4 to=$5 shown=$5 name=$5
  [ "$to" = "$folder" ] && return 0
  if [ -d "$to" ] || [ ! -e "$to" ]; then
    [ "$to" = include ] && name=kolvane
    [[ "${allowed[$folder]}" == *" $name "* ]] && return 0
    shown=$to/
  fi
  said "$file:$line: $folder/ may not $verb $shown (tools/layers.txt: $folder/ may use$(may_use "$folder"))"
}

# The README: its picture, and each folder's row of the Layout table naming
# in its last column the folders the table lets it use, no more, no less.
if [ "$(readme_picture)" != "$(picture)" ]; then
  said "README.md: the picture of the layers differs from tools/layers.txt (tools/check-layers.sh --readme writes it)"
fi
for folder in "${folders[@]}"; do
  row=$(grep -E "^\| \`$(shown_name "${folder/#include/kolvane}")\` \|" README.md || true)
  [ -n "$row" ] || { said "README.md: the Layout table has no row for $(shown_name "$folder")"; continue; }
  named=$(sed -E 's/.*\|([^|]*)\|[[:space:]]*$/\1/' <<<"$row" | grep -oE '`[a-z]+/([a-z_]+/)?`' | tr -d '`' | sort -u | tr '\n' ' ' || true)
  expected=$(for name in ${allowed[$folder]}; do if [ "$name" != "$folder" ]; then echo "${name/#kolvane/include}/"; fi; done |
    sort -u | tr '\n' ' ')
  named=${named//include\/kolvane\//include/}
  if [ "$named" != "$expected" ]; then
    said "README.md: the Layout row of $(shown_name "$folder") may use '${named% }', tools/layers.txt '${expected% }'"
  fi
done
readme_found=$violations

# CMake's model: configure the build folder with the query in place.
mkdir -p "$build/.cmake/api/v1/query"
touch "$build/.cmake/api/v1/query/codemodel-v2"
if ! configured=$(cmake -S "$tree" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON 2>&1); then
  echo "$configured" >&2
  echo "layers: cannot configure $build" >&2
  exit 1
fi
model=$(cmake -DBUILD="$build" -P "$tools/codemodel.cmake")
# The table folder a path lies in: its top folder, or the room of it (a
# subfolder the table names, like host/script) it lies in.
top_of() {
  local path=${1#./} first second
  first=${path%%/*}
  second=${path#"$first"/}
  second=${second%%/*}
  if [[ "$path" == */* ]] && [ -n "${allowed[$first/$second]:-}" ]; then echo "$first/$second"; else echo "$first"; fi
}
in_table() { [ -n "$1" ] && [ -n "${allowed[$1]:-}" ]; }
build_rel=${build#"$tree"/}

# Links: a target's folder links what it may include. CMake lists every
# target a target depends on, also through another; only the links of its
# own are checked (one reached through another target it links is that
# target's), so each wrong link is named once, where it is written.
declare -A links=()
while IFS=$'\t' read -r kind name folder linked rest; do
  [ "$kind" = link ] && links[$name|$linked]=1
done <<<"$model"
declare -A depends=()
for pair in "${!links[@]}"; do depends[${pair%%|*}]+=" ${pair#*|}"; done
through_another() { # target linked
  local other
  for other in ${depends[$1]}; do
    [ "$other" != "$2" ] && [ -n "${links[$other|$2]:-}" ] && return 0
  done
  return 1
}
while IFS=$'\t' read -r kind name folder linked linked_folder file line; do
  [ "$kind" = link ] || continue
  through_another "$name" "$linked" && continue
  from=$(top_of "$folder")
  to=$(top_of "$linked_folder")
  in_table "$from" && in_table "$to" || continue
  check_use "$file" "$line" "$from" "link $linked of" "$to"
done <<<"$model"
linked=$((violations - readme_found))

# Sources: a target compiles only the sources of its own folder (and what
# the build makes).
while IFS=$'\t' read -r kind name folder path file line; do
  [ "$kind" = source ] || continue
  in_table "$(top_of "$folder")" || continue
  [[ "$path" == "$folder"/* || "$path" == "$build_rel"/* || "$path" == "$build"/* ]] && continue
  said "$file:$line: $folder/ may not compile $path: it is $(top_of "$path")/'s (a folder compiles its own sources only)"
done <<<"$model"
compiled=$((violations - readme_found - linked))

# Includes, as the compiler finds them: each file of a table folder that the
# build compiles, preprocessed with -H, which prints every header opened, one
# dot per level of nesting. The lines of an including file that name a
# header that reaches outside the layer are what is reported; a header
# outside the tree is refused unless it lies in a folder the build or the
# compiler searches outside it (the system's and GoogleTest's).
# Each file's into a file of its own in $LAYERS_OUT, so parallel runs do not mix.
includes() { # directory file command: "# file" and the compiler's -H lines, or "error<TAB>file<TAB>message"
  local dir=$1 file=$2 command=$3 out status=0 into
  into=$(mktemp "$LAYERS_OUT/XXXXXX")
  command=$(sed -E 's/ -o [^ ]+/ /' <<<"$command")
  out=$(cd "$dir" && eval "$command -E -H -o /dev/null" 2>&1) || status=$?
  if [ $status -ne 0 ]; then
    printf 'error\t%s\t%s\n' "$file" "$(grep -m1 -E 'error' <<<"$out" || echo "exit $status")" >"$into"
    return
  fi
  { printf '# %s\t%s\n' "$dir" "$file"; grep -E '^\.+ ' <<<"$out" || true; } >"$into"
}
LAYERS_OUT=$(mktemp -d)
export LAYERS_OUT
trap 'rm -rf "$LAYERS_OUT"' EXIT
export -f includes
outside_roots=$(
  for language in c c++; do echo | cc -x "$language" -E -v - 2>&1 | sed -n '/search starts here/,/End of search list/s/^ //p'; done
  grep -oE -- '-(I|isystem ?)[^ "]+' "$build/compile_commands.json" | sed -E 's/^-(I|isystem ?)//' | sort -u)
# includer<TAB>header, each once: the includer in the tree, the header
# relative to the tree or, outside it, in no folder searched there.
pairs() {
  awk -v tree="$tree" -v roots="$outside_roots" '
    function clean(path, parts, n, i, out, k) { # "." and ".." taken out
      n = split(path, parts, "/"); k = 0
      for (i = 1; i <= n; i++) {
        if (parts[i] == "" || parts[i] == ".") continue
        if (parts[i] == "..") { if (k > 0) k--; continue }
        out[++k] = parts[i]
      }
      path = ""
      for (i = 1; i <= k; i++) path = path "/" out[i]
      return path
    }
    function searched(path, i) {
      for (i = 1; i <= nroots; i++) if (index(path, root[i] "/") == 1) return 1
      return 0
    }
    BEGIN {
      n = split(roots, all, "\n")
      for (i = 1; i <= n; i++) {
        r = clean(all[i])
        if (r != "" && index(tree "/", r "/") != 1 && index(r "/", tree "/") != 1) root[++nroots] = r
      }
    }
    /^error\t/ { print; next }
    /^# / { split(substr($0, 3), f, "\t"); dir = f[1]; stack[0] = clean(f[2]); next }
    {
      match($0, /^\.+/); depth = RLENGTH; path = substr($0, depth + 2)
      if (substr(path, 1, 1) != "/") path = dir "/" path
      path = clean(path); stack[depth] = path; from = stack[depth - 1]
      if (index(from, tree "/") != 1) next
      if (index(path, tree "/") == 1) path = substr(path, length(tree) + 2)
      else if (searched(path)) next
      key = from "\t" path
      if (!(key in seen)) { seen[key] = 1; print key }
    }'
}
# The #include lines of FILE that name a header called like HEADER.
include_lines() { # file header
  grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]([^>\"]*/)?$(basename "$2" | sed 's/[.]/[.]/g')[>\"]" "$1" | cut -d: -f1 || true
}
while IFS=$'\t' read -r includer header message; do
  if [ "$includer" = error ]; then
    said "${header#"$tree"/}: does not compile: $message"
    continue
  fi
  file=${includer#"$tree"/}
  folder=$(top_of "$file")
  in_table "$folder" || continue
  if [[ "$header" == /* ]]; then
    for line in $(include_lines "$includer" "$header"); do
      said "$file:$line: $folder/ may not include $header: it lies outside the tree (tools/layers.txt: $folder/ may use$(may_use "$folder"))"
    done
    continue
  fi
  to=$(top_of "$header")
  name=$to
  [ "$to" = include ] && name=kolvane
  [[ "$to" == "$folder" || ! -d "$to" || "${allowed[$folder]}" == *" $name "* ]] && continue
  for line in $(include_lines "$includer" "$header"); do check_use "$file" "$line" "$folder" include "$to"; done
done < <(cmake -DCOMMANDS="$build/compile_commands.json" -DWITH_COMMANDS=ON -P "$tree/cmake/compiled_sources.cmake" |
  while IFS=$'\t' read -r dir file command; do
    [[ "$file" == "$tree"/* ]] && in_table "$(top_of "${file#"$tree"/}")" && printf '%s\0%s\0%s\0' "$dir" "$file" "$command"
  done | xargs -0 -n 3 -P "${LAYERS_JOBS:-2}" bash -c 'includes "$@"' includes && cat "$LAYERS_OUT"/* | pairs)
included=$((violations - readme_found - linked - compiled))

if [ "$violations" -ne 0 ]; then
  echo "layers: $included include(s), $linked link(s), $compiled source(s) and $readme_found README line(s) reach outside their layer" >&2
  exit 1
fi
echo "layers: every include, link and compiled source stays within its layer, and README.md says so (tools/layers.txt)"
