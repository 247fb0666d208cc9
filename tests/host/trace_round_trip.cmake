# A trace as a user would make and a developer would use it, through
# kolvane-host and the real module (under Wine for the Windows builds):
# a session traced with --trace, its trace replayed with --compare (the same
# reports come out), the trace with one byte changed (exit 1 and the first
# difference), no file without the variable, and a path that cannot be
# opened (keys as before, one line in the log). Run by CTest with -DHOST,
# -DEMULATOR (may be empty), -DEXAMPLES and -DWORK_DIR.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/host_runs.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

host("tracing" 0 played --trace session.trace ${EXAMPLES}/raw-bytes.remote)
file(READ ${WORK_DIR}/session.trace trace)
string(REPLACE "\r" "" trace "${trace}")
foreach(wanted "^# kolvane [0-9.]+ trace, [a-z]+ [a-z0-9_]+, started " "\nraw 0xFF [0-9]+ms\n" "\nraw 0x6C [0-9]+ms\n"
               "\n# [0-9]+\\.[0-9][0-9][0-9]s Kolvane_TV fresh\n" "\nraw 0xD0 [0-9]+ms\n"
               "\n# [0-9]+\\.[0-9][0-9][0-9]s Kolvane_ChannelUp repeat\n" "\n# end of run, [0-9.]+s after it began\n$")
  expect("the trace" "${wanted}" "${trace}")
endforeach()

host("replaying the trace" 0 replayed --compare session.trace)
expect("the replay" "Kolvane_TV +- +fresh.*Compare: the replay made the [0-9]+ reports that session.trace recorded"
       "${replayed}")

# 0x6C (TV, bit 2 ignored) becomes 0x48 (Exit): the first report differs.
string(REGEX REPLACE "\nraw 0x6C " "\nraw 0x48 " changed "${trace}")
file(WRITE ${WORK_DIR}/changed.trace "${changed}")
host("replaying a changed trace" 1 differed --compare changed.trace)
expect("the difference"
       "Compare: the replay differs from changed.trace at [0-9.]+s: expected Kolvane_TV fresh at [0-9.]+s, got Kolvane_Exit fresh"
       "${differed}")

file(GLOB before RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
host("no trace asked for" 0 untraced ${EXAMPLES}/raw-bytes.remote)
file(GLOB after RELATIVE ${WORK_DIR} ${WORK_DIR}/*)
if(NOT before STREQUAL after)
  message(FATAL_ERROR "without KOLVANE_TRACE the folder went from '${before}' to '${after}'")
endif()

# kolvane-host refuses such a --trace itself; a host that sets the variable
# gets its keys and a line in the log.
file(REMOVE ${WORK_DIR}/Quillfern.log)
host_in("KOLVANE_TRACE=no-such-folder/session.trace" "" "an unopenable trace" 0 unopenable
        ${EXAMPLES}/raw-bytes.remote)
expect("keys without the trace" "Kolvane_TV +- +fresh.*Kolvane_ChannelUp +ChannelUp +repeat" "${unopenable}")
expect_trace_log_line("^kolvane: Cannot open the trace file no-such-folder/session.trace; no trace is written.\r?$")
