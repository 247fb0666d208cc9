# Helpers for the test scripts run with cmake -P (tests/dist, tests/package).
# Each reports what it checked and what it found, then stops the script.

# run(<what> COMMAND <command...> [WORKING_DIRECTORY <dir>] [ENVIRONMENT <VAR=value...>] [OUTPUT <var>])
# Runs the command (in WORK_DIR unless told otherwise) and fails with its
# combined output if it fails; OUTPUT receives that output.
function(run what)
  cmake_parse_arguments(ARG "" "WORKING_DIRECTORY;OUTPUT" "COMMAND;ENVIRONMENT" ${ARGN})
  if(NOT ARG_WORKING_DIRECTORY)
    set(ARG_WORKING_DIRECTORY ${WORK_DIR})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${ARG_ENVIRONMENT} ${ARG_COMMAND}
                  WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY} OUTPUT_VARIABLE out ERROR_VARIABLE out
                  RESULT_VARIABLE failed)
  if(failed)
    string(JOIN " " command ${ARG_COMMAND})
    message(FATAL_ERROR "${what} failed (${failed}): ${command}\n${out}")
  endif()
  if(ARG_OUTPUT)
    set(${ARG_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

function(expect_match what regex text)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: expected to match '${regex}', got:\n${text}")
  endif()
endfunction()

# The examples as shipped: share/kolvane/examples/<name>.remote, the scripts,
# and <name>.c, the example host tests.
function(shipped_examples out)
  file(GLOB examples RELATIVE ${SOURCE_DIR}/host/examples ${SOURCE_DIR}/host/examples/*.remote)
  file(GLOB sources RELATIVE ${SOURCE_DIR}/examples ${SOURCE_DIR}/examples/*.c)
  list(APPEND examples ${sources})
  list(TRANSFORM examples PREPEND share/kolvane/examples/)
  set(${out} ${examples} PARENT_SCOPE)
endfunction()

# Fails unless the files below root are exactly the expected ones.
function(expect_exact_files what root)
  set(expected ${ARGN})
  list(SORT expected)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
  list(SORT found)
  if(NOT found STREQUAL expected)
    string(REPLACE ";" "\n  " found "${found}")
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "${what} holds:\n  ${found}\nexpected:\n  ${expected}")
  endif()
endfunction()
