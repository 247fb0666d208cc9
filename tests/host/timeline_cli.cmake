# --timeline as a user meets it, on a trace the real module wrote with a
# slow OnKey (polls 300 ms late): --explain --timeline writes a valid SVG
# that names the evidence lines of each finding and leaves --explain's text
# and exit code as they are; a replay's timeline, plain and --fast, shows
# the late polls the trace recorded; a timeline that cannot be written (a
# directory, a path too long, a full disk) is a clear message and exit 2.
# Run by CTest with -DHOST, -DEMULATOR (may be empty) and -DWORK_DIR.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/host_runs.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# Well-formed XML, by whichever checker the machine has.
find_program(XMLLINT xmllint)
find_program(PYTHON3 python3)
function(expect_valid_svg file)
  if(XMLLINT)
    execute_process(COMMAND ${XMLLINT} --noout ${file} RESULT_VARIABLE code ERROR_VARIABLE err)
  elseif(PYTHON3)
    execute_process(COMMAND ${PYTHON3} -c "import sys, xml.etree.ElementTree as e; e.parse(sys.argv[1])" ${file}
                    RESULT_VARIABLE code ERROR_VARIABLE err)
  else()
    message(STATUS "neither xmllint nor python3: ${file} is not checked as XML")
    set(code 0)
  endif()
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${file} is no well-formed XML:\n${err}")
  endif()
  file(READ ${file} svg)
  expect("${file}" "^<\\?xml [^\n]*\n<svg xmlns=\"http://www.w3.org/2000/svg\".*</svg>\n$" "${svg}")
endfunction()

# A host whose OnKey takes 300 ms: each report is followed by a late poll.
file(WRITE ${WORK_DIR}/slow.remote "press ChannelUp\npress VolumeUp\nwait 500ms\npress Mute\nwait 300ms\n")
host("recording" 0 ignored --trace slow.trace --slow-sink 300ms slow.remote)
file(STRINGS ${WORK_DIR}/slow.trace lines)
set(number 0)
set(late_lines)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(line MATCHES "^# [0-9.]+s poll [0-9]+ms late$")
    list(APPEND late_lines ${number})
  endif()
endforeach()
list(LENGTH late_lines late_count)
if(late_count LESS 2)
  message(FATAL_ERROR "the slow sink made ${late_count} late polls, expected at least 2:\n${lines}")
endif()

# --- --explain --timeline ------------------------------------------------
host("--explain alone" 1 alone --explain slow.trace)
host("--explain --timeline" 1 drawn --explain slow.trace --timeline explain.svg)
if(NOT drawn STREQUAL alone)
  message(FATAL_ERROR "--timeline changed --explain's text:\n${drawn}\nexpected:\n${alone}")
endif()
expect_valid_svg(${WORK_DIR}/explain.svg)
file(READ ${WORK_DIR}/explain.svg svg)
# Every late poll is drawn and is evidence of the late_polls finding, which
# names its lines as the text does.
string(REGEX MATCH "<g class=\"finding\" data-kind=\"late_polls\" data-lines=\"([0-9 ]+)\">" group "${svg}")
if(NOT group)
  message(FATAL_ERROR "explain.svg has no late_polls finding")
endif()
string(REPLACE " " ";" evidence "${CMAKE_MATCH_1}")
foreach(line IN LISTS late_lines)
  expect("late poll of line ${line} drawn" "class=\"late-poll\" data-line=\"${line}\"" "${svg}")
  if(NOT line IN_LIST evidence)
    message(FATAL_ERROR "the finding's evidence lines (${evidence}) leave out late poll line ${line}")
  endif()
  expect("--explain names line ${line}" "line ${line}, " "${alone}")
endforeach()
expect("the run's start" "class=\"run-start\" data-line=\"1\"" "${svg}")
expect("the list" ">1\\. late_polls, lines [0-9, ]+: [0-9] polls came late" "${svg}")

# A trace with nothing wrong is drawn too, with no finding.
file(WRITE ${WORK_DIR}/quick.remote "press 1\n")
host("recording a clean trace" 0 ignored --trace clean.trace quick.remote)
host("a clean trace drawn" 0 clean --explain clean.trace --timeline clean.svg)
expect("a clean trace drawn" "nothing wrong" "${clean}")
expect_valid_svg(${WORK_DIR}/clean.svg)

# --- a replay's timeline shows what the trace recorded --------------------
foreach(mode plain fast)
  set(fast_option)
  if(mode STREQUAL "fast")
    set(fast_option --fast)
  endif()
  host("a ${mode} replay" 0 ignored ${fast_option} --timeline replay-${mode}.svg slow.trace)
  expect_valid_svg(${WORK_DIR}/replay-${mode}.svg)
  file(READ ${WORK_DIR}/replay-${mode}.svg svg)
  foreach(line IN LISTS late_lines)
    expect("${mode} replay: the late poll of line ${line}" "class=\"late-poll\" data-line=\"${line}\"" "${svg}")
  endforeach()
endforeach()

# --- a timeline that cannot be written ------------------------------------
string(REPEAT "x" 5000 long_name)
foreach(command "--explain;slow.trace" "slow.trace")
  host("${command}: a directory" 2 said ${command} --timeline ${WORK_DIR})
  expect("${command}: a directory" "kolvane-host: cannot write timeline [^\n]+: [A-Za-z][^\n]+\n$" "${said}")
  host("${command}: a path too long" 2 said ${command} --timeline ${long_name}.svg)
  expect("${command}: a path too long" "kolvane-host: cannot write timeline x+\\.\\.\\.: [A-Za-z][^\n]+\n$" "${said}")
  string(LENGTH "${said}" length)
  if(length GREATER 1200)
    message(FATAL_ERROR "${command}: the message of a path too long echoes ${length} bytes")
  endif()
endforeach()
host("--explain: a directory, as JSON Lines" 2 said --explain slow.trace --timeline ${WORK_DIR} --format jsonl)
expect("--explain: a directory, as JSON Lines" "^{\"event\":\"problem\",\"message\":\"cannot write timeline [^\n]+\"}\n$"
       "${said}")
# A full disk is found only on writing: --explain says what it found, then
# why there is no picture; a replay plays, then says so before its summary.
if(NOT EMULATOR AND EXISTS /dev/full)
  host("--explain: a full disk" 2 said --explain slow.trace --timeline /dev/full)
  expect("--explain: a full disk"
         "^Explain: slow.trace: [^\n]*\n.*kolvane-host: cannot write timeline /dev/full: No space left on device\n$" "${said}")
  host("a replay: a full disk" 2 said --timeline /dev/full slow.trace)
  expect("a replay: a full disk" "Kolvane_Mute[^\n]*\n.*cannot write timeline /dev/full: No space left on device\n"
         "${said}")
endif()
