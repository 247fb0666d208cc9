# --compare as a developer meets it, through kolvane-host and the real
# module: the trace is read once (a replay that appends to the same file,
# standard input), a trace cut by its size cap, directories and hostile
# files as scripts, and a trace of half an hour that compares in seconds.
# Run by CTest with -DHOST, -DEMULATOR (may be empty), -DEXAMPLES and
# -DWORK_DIR.
cmake_minimum_required(VERSION 3.25)

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

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(header "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n")

host("tracing" 0 ignored --trace session.trace ${EXAMPLES}/raw-bytes.remote)
file(READ ${WORK_DIR}/session.trace trace)
string(REPLACE "\r" "" trace "${trace}")

# The replay appends its own run to the trace it compares with.
file(WRITE ${WORK_DIR}/same.trace "${trace}")
host("--trace F --compare F" 0 compared --trace same.trace --compare same.trace)
expect("--trace F --compare F" "Compare: the replay made the [1-9][0-9]* reports that same.trace recorded" "${compared}")
file(STRINGS ${WORK_DIR}/same.trace runs REGEX "^# kolvane [0-9.]+ trace, ")
list(LENGTH runs count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "--trace F --compare F: expected the replay's run appended, found ${count} runs")
endif()
file(WRITE ${WORK_DIR}/same.trace "${trace}")
host_in("KOLVANE_TRACE=same.trace" "" "KOLVANE_TRACE=F --compare F" 0 compared --compare same.trace)
expect("KOLVANE_TRACE=F --compare F" "Compare: the replay made the [1-9][0-9]* reports" "${compared}")

# --compare - : the script and the reports both from standard input.
host_in("" ${WORK_DIR}/session.trace "--compare -" 0 compared --compare -)
expect("--compare -" "Compare: the replay made the [1-9][0-9]* reports that <stdin> recorded" "${compared}")

# The size cap fell between the first report and the step of its byte.
string(REGEX MATCH "\n# [0-9.]+s [A-Za-z0-9_]+ fresh\n" report "${trace}")
if(NOT report)
  message(FATAL_ERROR "the trace holds no fresh report:\n${trace}")
endif()
string(FIND "${trace}" "${report}" at)
string(LENGTH "${report}" report_length)
math(EXPR end "${at} + ${report_length}")
string(SUBSTRING "${trace}" 0 ${end} cut)
file(WRITE ${WORK_DIR}/cut.trace "${cut}# trace stopped: the file reached its size cap of 8 MiB\n")
host("a trace cut by its cap" 0 compared --compare cut.trace)
expect("a trace cut by its cap"
       "Compare: the replay made the [0-9]+ reports that cut.trace recorded.\nCompare: cut.trace was cut by its size cap: compared up to its last whole step, line [0-9]+; 1 report\\(s\\) recorded after its last step"
       "${compared}")

# A directory is no script, whatever is asked of it.
foreach(ask "--check" "--compare" "")
  host("a directory with '${ask}'" 2 refused ${ask} ${WORK_DIR})
  expect("a directory with '${ask}'" "^kolvane-host: cannot read script [^\n]*: it is a directory\n$" "${refused}")
endforeach()

# Hostile files: a terminal escape in a key name, a 52 MB line.
string(ASCII 27 escape)
file(WRITE ${WORK_DIR}/escape.remote "press ${escape}]0;owned${escape}[2J\n")
host("an escape in a key name" 2 refused --check escape.remote)
expect("an escape in a key name" "unknown key '\\\\x1B\\]0;owned\\\\x1B\\[2J'" "${refused}")
if(refused MATCHES "${escape}")
  message(FATAL_ERROR "an escape in a key name reached the output raw")
endif()
string(REPEAT "ChannelUp" 5825422 long)  # 52 MB on one line
file(WRITE ${WORK_DIR}/long.remote "press ${long}\n")
set(long)
host("a 52 MB line" 2 refused --check long.remote)
string(LENGTH "${refused}" length)
if(NOT refused MATCHES "^kolvane-host: long.remote:1: line longer than 1024 bytes\n$")
  message(FATAL_ERROR "a 52 MB line: ${length} bytes of output: ${refused}")
endif()
file(REMOVE ${WORK_DIR}/long.remote)

# Three presses ten minutes apart: half an hour of trace, compared in
# seconds (the test's timeout is the bound).
set(three "${header}")
foreach(at 600.020 1200.120 1800.220)
  string(APPEND three "raw 0xFF 600000ms\n# ${at}s Kolvane_ChannelUp fresh\nraw 0xD8 100ms\n")
endforeach()
string(APPEND three "raw 0xFF 100ms\n# end of run, 1800.420s after it began\n")
file(WRITE ${WORK_DIR}/three.trace "${three}")
string(TIMESTAMP began "%s")
host("three presses ten minutes apart" 0 compared --compare three.trace)
string(TIMESTAMP ended "%s")
math(EXPR seconds "${ended} - ${began}")
expect("three presses ten minutes apart"
       "Kolvane_ChannelUp.*Kolvane_ChannelUp.*Kolvane_ChannelUp.*Compare: the replay made the 3 reports that three.trace recorded"
       "${compared}")
if(seconds GREATER 60)
  message(FATAL_ERROR "three presses ten minutes apart took ${seconds} s to compare")
endif()
host("a fast replay" 0 replayed --fast three.trace)
expect("a fast replay" "Summary: 3 buttons pressed, 3 keys reported" "${replayed}")
