# Prints the source files of a compile_commands.json, one a line:
#   cmake -DCOMMANDS=build/linux/compile_commands.json -P cmake/compiled_sources.cmake
# With -DWITH_COMMANDS=ON each line is the folder it is compiled in, the
# file and its command, separated by tabs.
cmake_minimum_required(VERSION 3.25)
file(READ "${COMMANDS}" commands)
string(JSON count LENGTH "${commands}")
set(files "")
if(count GREATER 0)
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    string(JSON file GET "${commands}" ${index} file)
    if(WITH_COMMANDS)
      string(JSON directory GET "${commands}" ${index} directory)
      string(JSON command GET "${commands}" ${index} command)
      string(APPEND files "${directory}\t${file}\t${command}\n")
    else()
      string(APPEND files "${file}\n")
    endif()
  endforeach()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${files}")
