# The link edges between the project's own targets, read from CMake files,
# for tools/check-layers.sh. Prints one line per edge:
#   file <TAB> line <TAB> linking folder <TAB> linked target <TAB> its folder
# Variables: layers (" receiver platform ... ", the table's folders) and
# outside ("target=folder ...", targets defined outside those folders).
#
# A target belongs to the folder whose CMake file defines it: add_library or
# add_executable, an ALIAS of one of ours, or a call of one of our functions
# that defines its argument (kolvane_test(name ...)). An edge runs from the
# folder of the target that links (or, where that target is a function's
# argument, of the file that calls) to every target of ours named in a
# target_link_libraries call, also inside generator expressions, lists and
# variables set in the same file, and in the arguments a function of ours
# forwards to one (kolvane_test(... LIBS ...)). Anything else
# (PUBLIC/PRIVATE, GTest::gtest, Threads::Threads, ${CMAKE_DL_LIBS}) is not
# ours and is ignored.

function folder_of(file, top) {
  top = file
  sub(/\/.*/, "", top)
  return (top != file && index(layers, " " top " ")) ? top : ""
}

function emit(text, line) {
  ntok[n]++
  tok[n, ntok[n]] = text
  tokline[n, ntok[n]] = line
}

function flush() {
  if (quoted || word != "") emit(word, wordline)
  word = ""
  quoted = 0
}

# A CMake file, command by command: name, line, and its arguments each with
# its own line. Comments and bracket comments are dropped.
function scan(line, i, c, rest, m) {
  for (i = 1; i <= length(line); i++) {
    c = substr(line, i, 1)
    if (closing != "") { # inside a bracket argument or comment
      if (substr(line, i, length(closing)) == closing) {
        i += length(closing) - 1
        closing = ""
        if (!commented) flush()
      } else if (!commented) word = word c
      continue
    }
    if (inquote) {
      if (c == "\\") { word = word substr(line, i, 2); i++ }
      else if (c == "\"") { inquote = 0; flush() }
      else word = word c
      continue
    }
    rest = substr(line, i)
    if (c == "#") {
      if (match(rest, /^#\[=*\[/)) {
        closing = "]" substr(rest, 3, RLENGTH - 3) "]"
        commented = 1
        i += RLENGTH - 1
        continue
      }
      break
    }
    if (!incommand) {
      if (c ~ /[A-Za-z0-9_]/) name = name c
      else if (c == "(" && name != "") {
        n++
        cmd[n] = tolower(name)
        cmdfile[n] = FILENAME
        cmdline[n] = FNR
        ntok[n] = 0
        incommand = 1
        depth = 1
        name = ""
      } else if (c !~ /[ \t]/) name = ""
      continue
    }
    if (c == " " || c == "\t") { flush(); continue }
    if (c == "(") { flush(); depth++; continue }
    if (c == ")") {
      flush()
      if (--depth == 0) incommand = 0
      continue
    }
    if (word == "") wordline = FNR
    if (word == "" && c == "\"") { inquote = 1; quoted = 1; continue }
    if (word == "" && match(rest, /^\[=*\[/)) {
      closing = "]" substr(rest, 2, RLENGTH - 2) "]"
      commented = 0
      quoted = 1
      i += RLENGTH - 1
      continue
    }
    if (c == "\\") { word = word substr(line, i, 2); i++; continue }
    word = word c
  }
  if (inquote || (closing != "" && !commented)) word = word "\n"
  else if (incommand && closing == "") flush()
}

FNR == 1 { name = ""; incommand = 0; inquote = 0; closing = ""; word = "" }
{ scan($0) }

# The names an argument may hold: itself, the parts of a list or generator
# expression, and one level of a variable set in the same file.
function pieces(text, file, out, expand, s, parts, k, m, v, vals, j) {
  s = text
  gsub(/::/, "\001", s)
  gsub(/[>:,;\n]/, " ", s)
  m = split(s, parts, " ")
  for (k = 1; k <= m; k++) {
    gsub(/\001/, "::", parts[k])
    if (expand && parts[k] ~ /^\$\{[A-Za-z0-9_]+\}$/) {
      v = substr(parts[k], 3, length(parts[k]) - 3)
      if ((file, v) in vars) {
        j = split(vars[file, v], vals, SUBSEP)
        for (; j >= 1; j--) pieces(vals[j], file, out, 0)
      }
    } else out[++out[0]] = parts[k]
  }
}

function edge(file, line, from, target) {
  if (from != "" && (target in owner) && owner[target] != "")
    printf "%s\t%d\t%s\t%s\t%s\n", file, line, from, target, owner[target]
}

# Edges from FROM to each target of ours in argument K of command I.
function edges_of(i, k, from, out, j) {
  split("", out)
  out[0] = 0
  pieces(tok[i, k], cmdfile[i], out, 1)
  for (j = 1; j <= out[0]; j++) edge(cmdfile[i], tokline[i, k], from, out[j])
}

# The folder whose target argument K of command I names.
function linker(i, k, t) {
  t = tok[i, k]
  return ((t in owner) && owner[t] != "") ? owner[t] : folder_of(cmdfile[i])
}

END {
  # Functions, their parameters and keywords; variables; targets.
  for (i = 1; i <= n; i++) {
    f = cmd[i]
    if (f == "function") {
      current = tolower(tok[i, 1])
      for (k = 2; k <= ntok[i]; k++) param[current, "${" tok[i, k] "}"] = k - 1
      continue
    }
    if (f == "endfunction") { current = ""; continue }
    infunction[i] = current
    if (f == "cmake_parse_arguments" && current != "") {
      k = tok[i, 1] == "PARSE_ARGV" ? 3 : 1
      prefix[current] = tok[i, k]
      for (j = k + 1; j <= k + 3; j++) {
        m = split(tok[i, j], words, ";")
        for (; m >= 1; m--) keyword[current, words[m]] = 1
      }
    } else if ((f == "set" || (f == "list" && tok[i, 1] == "APPEND")) && current == "") {
      k = f == "set" ? 1 : 2
      for (j = k + 1; j <= ntok[i] && tok[i, j] != "CACHE" && tok[i, j] != "PARENT_SCOPE"; j++)
        vars[cmdfile[i], tok[i, k]] = ((cmdfile[i], tok[i, k]) in vars ? vars[cmdfile[i], tok[i, k]] SUBSEP : "") tok[i, j]
    } else if (f == "add_library" || f == "add_executable") {
      t = tok[i, 1]
      if ((current, t) in param) defines[current] = param[current, t]
      else if (tok[i, 2] == "ALIAS") alias[t] = tok[i, 3]
      else if (tok[i, 2] != "IMPORTED" && tok[i, 3] != "IMPORTED") owner[t] = folder_of(cmdfile[i])
    }
  }
  for (i = 1; i <= n; i++)
    if (cmd[i] in defines) owner[tok[i, defines[cmd[i]]]] = folder_of(cmdfile[i])
  m = split(outside, words, " ")
  for (; m >= 1; m--) {
    split(words[m], pair, "=")
    if (!((pair[1] in owner) && owner[pair[1]] != "")) owner[pair[1]] = pair[2]
  }
  for (t in alias) if (alias[t] in owner) owner[t] = owner[alias[t]]

  # target_link_libraries: checked where it stands, or, on a function's
  # argument, at each call of the function.
  for (i = 1; i <= n; i++) {
    if (cmd[i] != "target_link_libraries") continue
    current = infunction[i]
    if ((current, tok[i, 1]) in param) {
      links[current] = param[current, tok[i, 1]]
      for (k = 2; k <= ntok[i]; k++) {
        if (match(tok[i, k], "^\\$\\{" prefix[current] "_[A-Za-z0-9_]+\\}$"))
          forwards[current, substr(tok[i, k], length(prefix[current]) + 4, length(tok[i, k]) - length(prefix[current]) - 4)] = 1
        else body[current] = body[current] SUBSEP i SUBSEP k
      }
      continue
    }
    for (k = 2; k <= ntok[i]; k++) edges_of(i, k, linker(i, 1))
  }
  for (i = 1; i <= n; i++) {
    f = cmd[i]
    if (!(f in links)) continue
    from = linker(i, links[f])
    m = split(substr(body[f], 2), words, SUBSEP)
    for (j = 1; j < m; j += 2) {
      split("", out)
      out[0] = 0
      pieces(tok[words[j], words[j + 1]], cmdfile[words[j]], out, 1)
      for (o = 1; o <= out[0]; o++) edge(cmdfile[i], cmdline[i], from, out[o])
    }
    forwarding = 0
    for (k = 1; k <= ntok[i]; k++) {
      if ((f, tok[i, k]) in keyword) forwarding = (f, tok[i, k]) in forwards
      else if (forwarding) edges_of(i, k, from)
    }
  }
}
