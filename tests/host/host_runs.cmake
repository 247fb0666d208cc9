# kolvane-host run from a CMake test script, with KOLVANE_TRACE unset unless
# the run names it, and what it printed checked. Included by the scripts that
# CTest runs with -DHOST, -DEMULATOR (may be empty) and -DWORK_DIR.

# kolvane-host ${ARGN} with `environment` (a list of NAME=VALUE, or "").
function(host_in environment input what expected_code output)
  set(input_option)
  if(input)
    set(input_option INPUT_FILE ${input})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=KOLVANE_TRACE ${environment} ${EMULATOR} ${HOST} ${ARGN}
                  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err
                  ${input_option})
  string(REPLACE "\r" "" text "${out}${err}")
  if(NOT code EQUAL expected_code)
    message(FATAL_ERROR "${what}: kolvane-host ${ARGN} exited ${code}, expected ${expected_code}:\n${text}")
  endif()
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

function(host what expected_code output)
  host_in("" "" "${what}" ${expected_code} text ${ARGN})
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

function(expect what regex text)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: expected to match '${regex}', got:\n${text}")
  endif()
endfunction()

# The log's lines about the trace, in WORK_DIR, are exactly the one line
# `regex` matches.
function(expect_trace_log_line regex)
  file(STRINGS ${WORK_DIR}/Quillfern.log log)
  list(FILTER log INCLUDE REGEX "trace")
  if(NOT log MATCHES "${regex}")
    message(FATAL_ERROR "the log's trace lines: '${log}'")
  endif()
endfunction()
