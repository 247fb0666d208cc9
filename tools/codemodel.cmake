# Prints what CMake's own model of the build (its file API, codemodel v2)
# says of every target, for tools/check-layers.sh, one fact a line, fields
# separated by tabs:
#   target  NAME  FOLDER
#   source  NAME  FOLDER  PATH  FILE  LINE
#   link    NAME  FOLDER  LINKED  LINKED-FOLDER  FILE  LINE
# FOLDER is the folder whose CMakeLists.txt defined the target ("." for the
# top), PATH a source relative to the top of the tree (absolute outside it),
# FILE and LINE the command in a CMakeLists.txt that made the fact (for a
# function of ours, its call). A link is any target a target depends on,
# also through the targets it links, except an add_dependencies() order.
#   cmake -DBUILD=build/linux -P tools/codemodel.cmake
# The build folder must have been configured with the query in place
# (.cmake/api/v1/query/codemodel-v2, which check-layers.sh writes).
cmake_minimum_required(VERSION 3.25)

set(reply ${BUILD}/.cmake/api/v1/reply)
file(GLOB indexes ${reply}/index-*.json)
if(NOT indexes)
  message(FATAL_ERROR "no codemodel in ${BUILD}: configure it with ${BUILD}/.cmake/api/v1/query/codemodel-v2 in place")
endif()
list(SORT indexes)
list(GET indexes -1 index)
file(READ ${index} json)
string(JSON codemodel_file GET "${json}" reply codemodel-v2 jsonFile)
file(READ ${reply}/${codemodel_file} codemodel)
string(JSON top GET "${codemodel}" paths source)

# The targets of the first configuration: file, folder and name by id.
string(JSON targets GET "${codemodel}" configurations 0 targets)
string(JSON count LENGTH "${targets}")
math(EXPR last "${count} - 1")
set(ids "")
foreach(i RANGE ${last})
  string(JSON id GET "${targets}" ${i} id)
  string(JSON file GET "${targets}" ${i} jsonFile)
  string(MAKE_C_IDENTIFIER "${id}" key)
  set(file_${key} ${file})
  file(READ ${reply}/${file} target_${key})
  string(JSON name_${key} GET "${target_${key}}" name)
  string(JSON folder_${key} GET "${target_${key}}" paths source)
  list(APPEND ids "${id}")
endforeach()

# The command in a CMakeLists.txt behind backtrace node NODE of TARGET (the
# outermost, so the call of a function rather than a line of its body):
# sets where_file and where_line.
function(where target node)
  set(file "")
  set(line 0)
  while(NOT node STREQUAL "")
    string(JSON entry GET "${target}" backtraceGraph nodes ${node})
    string(JSON command ERROR_VARIABLE none GET "${entry}" command)
    if(none STREQUAL "NOTFOUND")
      string(JSON index GET "${entry}" file)
      string(JSON file GET "${target}" backtraceGraph files ${index})
      string(JSON line GET "${entry}" line)
    endif()
    string(JSON node ERROR_VARIABLE none GET "${entry}" parent)
    if(NOT none STREQUAL "NOTFOUND")
      set(node "")
    endif()
  endwhile()
  set(where_file "${file}" PARENT_SCOPE)
  set(where_line "${line}" PARENT_SCOPE)
endfunction()

# Whether backtrace node NODE of TARGET is an add_dependencies() call.
function(ordering_only target node result)
  string(JSON entry GET "${target}" backtraceGraph nodes ${node})
  string(JSON command ERROR_VARIABLE none GET "${entry}" command)
  set(${result} FALSE PARENT_SCOPE)
  if(none STREQUAL "NOTFOUND")
    string(JSON name GET "${target}" backtraceGraph commands ${command})
    if(name STREQUAL "add_dependencies")
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

set(out "")
foreach(id IN LISTS ids)
  string(MAKE_C_IDENTIFIER "${id}" key)
  set(target "${target_${key}}")
  set(name "${name_${key}}")
  set(folder "${folder_${key}}")
  string(APPEND out "target\t${name}\t${folder}\n")

  string(JSON sources ERROR_VARIABLE none GET "${target}" sources)
  if(none STREQUAL "NOTFOUND")
    string(JSON count LENGTH "${sources}")
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(JSON path GET "${sources}" ${i} path)
      string(JSON generated ERROR_VARIABLE none GET "${sources}" ${i} isGenerated)
      if(generated STREQUAL "ON" OR generated STREQUAL "true")
        continue()
      endif()
      string(JSON node ERROR_VARIABLE none GET "${sources}" ${i} backtrace)
      where("${target}" "${node}")
      string(APPEND out "source\t${name}\t${folder}\t${path}\t${where_file}\t${where_line}\n")
    endforeach()
  endif()

  string(JSON dependencies ERROR_VARIABLE none GET "${target}" dependencies)
  if(none STREQUAL "NOTFOUND")
    string(JSON count LENGTH "${dependencies}")
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(JSON linked GET "${dependencies}" ${i} id)
      string(JSON node ERROR_VARIABLE none GET "${dependencies}" ${i} backtrace)
      if(NOT none STREQUAL "NOTFOUND")
        set(node "")
      else()
        ordering_only("${target}" ${node} order)
        if(order)
          continue()
        endif()
      endif()
      where("${target}" "${node}")
      string(MAKE_C_IDENTIFIER "${linked}" linked_key)
      string(APPEND out
             "link\t${name}\t${folder}\t${name_${linked_key}}\t${folder_${linked_key}}\t${where_file}\t${where_line}\n")
    endforeach()
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${out}")
