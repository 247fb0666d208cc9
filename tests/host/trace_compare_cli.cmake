# --compare as a developer meets it, through kolvane-host and the real
# module: the trace is read once (a replay that appends to the same file,
# standard input), a trace cut by its size cap, traces of several runs
# (each replayed from its own start), a script that is no trace, directories
# and hostile files as scripts, and a trace of half an hour that compares in
# seconds.
# Run by CTest with -DHOST, -DEMULATOR (may be empty), -DEXAMPLES and
# -DWORK_DIR.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/host_runs.cmake)

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

# The size cap fell between the first report and the byte line of its byte.
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
       "Compare: the replay made the [0-9]+ reports that cut.trace recorded.\nCompare: cut.trace was cut by its size cap: compared up to its last whole byte line, line [0-9]+; 1 report recorded after its last byte line"
       "${compared}")

# Two Starts of the module, two runs in one file: each is replayed with a
# fresh Start and compared on its own clock.
file(WRITE ${WORK_DIR}/two.trace "${trace}")
host("tracing a second run" 0 ignored --trace two.trace ${EXAMPLES}/raw-bytes.remote)
file(READ ${WORK_DIR}/two.trace two)
string(REPLACE "\r" "" two "${two}")
string(FIND "${two}" "\n# kolvane " second_run)
math(EXPR second_run "${second_run} + 1")
string(SUBSTRING "${two}" 0 ${second_run} run1)
string(SUBSTRING "${two}" ${second_run} -1 run2)
string(REGEX MATCHALL "\n" run1_lines "${run1}")
list(LENGTH run1_lines run1_lines)
math(EXPR run2_line "${run1_lines} + 1")
host("two runs that match" 0 compared --compare two.trace)
expect("two runs that match"
       "Run 1 of 2, line 1: kolvane [0-9.]+ trace, .*Run 2 of 2, line ${run2_line}: kolvane [0-9.]+ trace, .*Compare: all 2 runs of two.trace match: the replay made the [1-9][0-9]* reports they recorded.\n$"
       "${compared}")

# 0x6C (TV) becomes 0x48 (Exit) in the second run only.
string(REGEX REPLACE "\nraw 0x6C " "\nraw 0x48 " changed_run2 "${run2}")
file(WRITE ${WORK_DIR}/two-changed.trace "${run1}${changed_run2}")
host("a change in run 2" 1 differed --compare two-changed.trace)
set(seconds "([0-9]+)\\.([0-9][0-9][0-9])s")
expect("a change in run 2"
       "Compare: 2 runs of two-changed.trace: 1 matches, 1 differs.\nCompare: run 2 of 2 \\(from line ${run2_line}\\) differs at ${seconds}: expected Kolvane_TV fresh at ${seconds}, got Kolvane_Exit fresh at ${seconds}.\n"
       "${differed}")
# Both times count from the second run's start, not from the file's.
string(REGEX MATCH "expected Kolvane_TV fresh at ${seconds}, got Kolvane_Exit fresh at ${seconds}" ignored "${differed}")
math(EXPR expected_ms "${CMAKE_MATCH_1} * 1000 + 1${CMAKE_MATCH_2} - 1000")
math(EXPR got_ms "${CMAKE_MATCH_3} * 1000 + 1${CMAKE_MATCH_4} - 1000")
math(EXPR late_ms "${got_ms} - ${expected_ms}")
if(late_ms LESS -100 OR late_ms GREATER 100)
  message(FATAL_ERROR "a change in run 2: the replay's time is ${late_ms} ms from the trace's:\n${differed}")
endif()

# ChannelUp was down when the module started the second time: the module
# reported nothing, and neither does the replay, compared or played.
set(key_down "${header}raw 0xFF 300ms\n# 0.320s Kolvane_Mute fresh\nraw 0x08 100ms\nraw 0xFF 200ms\n")
string(APPEND key_down "# end of run, 0.620s after it began\n${header}raw 0xD8 300ms\nraw 0xFF 200ms\n")
string(APPEND key_down "# end of run, 0.520s after it began\n")
file(WRITE ${WORK_DIR}/key-down.trace "${key_down}")
host("a key down at the second Start" 0 compared --compare key-down.trace)
expect("a key down at the second Start" "Compare: all 2 runs of key-down.trace match: the replay made the 1 report "
       "${compared}")
host("a key down at the second Start, played" 0 played key-down.trace)
expect("a key down at the second Start, played"
       "Run 1 of 2, line 1: .*Kolvane_Mute .*Run 2 of 2, line 7: .*Summary: [0-9]+ buttons? pressed, 1 key reported"
       "${played}")

# A plain script is no trace: nothing to compare it with.
host("--compare with a script" 2 refused --compare ${EXAMPLES}/raw-bytes.remote)
expect("--compare with a script" "not a trace: [^\n]*raw-bytes.remote \\(no trace header\\)\n$" "${refused}")

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
# Twenty runs, each ten idle minutes and a press: each run's replay is fast.
set(many "")
foreach(run RANGE 1 20)
  string(APPEND many "${header}raw 0xFF 600000ms\n# 600.020s Kolvane_ChannelUp fresh\nraw 0xD8 100ms\n")
  string(APPEND many "raw 0xFF 100ms\n# end of run, 600.220s after it began\n")
endforeach()
file(WRITE ${WORK_DIR}/many.trace "${many}")
string(TIMESTAMP began "%s")
host("twenty runs of ten minutes" 0 compared --compare many.trace)
string(TIMESTAMP ended "%s")
math(EXPR seconds "${ended} - ${began}")
expect("twenty runs of ten minutes" "Compare: all 20 runs of many.trace match: the replay made the 20 reports" "${compared}")
if(seconds GREATER 60)
  message(FATAL_ERROR "twenty runs of ten minutes took ${seconds} s to compare")
endif()
host("a fast replay" 0 replayed --fast three.trace)
expect("a fast replay" "Summary: 3 buttons pressed, 3 keys reported" "${replayed}")
