# kolvane-host under a file-size limit of 1 KiB (as `ulimit -f 1` or
# systemd's LimitFSIZE=1K set it), with the log, then the trace, at that
# limit: a write past it would end the process with SIGXFSZ. The host lives
# on (exit 0), every key is reported, and each file ends in a whole line.
# Run by CTest with -DHOST and -DWORK_DIR; Linux only.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/host_runs.cmake)

set(limit 1024)
find_program(PRLIMIT prlimit REQUIRED)
# Every run below starts kolvane-host under the limit.
set(EMULATOR ${PRLIMIT} --fsize=${limit})

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/six.remote "press ChannelUp\npress ChannelDown\npress 1\npress 2\npress Mute\npress Power\n")
set(every_key "Kolvane_ChannelUp.*Kolvane_ChannelDown.*Kolvane_1.*Kolvane_2.*Kolvane_Mute.*Kolvane_Exit.*\
Summary: 6 buttons pressed, 6 keys reported")

# Whole lines of `bytes` bytes in all, each of 64 or fewer.
function(write_lines path bytes)
  string(REPEAT "#" 63 line)
  set(text "")
  math(EXPR lines "${bytes} / 64")
  foreach(i RANGE 1 ${lines})
    string(APPEND text "${line}\n")
  endforeach()
  math(EXPR rest "${bytes} % 64 - 1")
  if(rest GREATER_EQUAL 0)
    string(REPEAT "#" ${rest} last)
    string(APPEND text "${last}\n")
  endif()
  file(WRITE ${path} "${text}")
endfunction()

function(expect_whole what path)
  file(SIZE ${path} size)
  if(size GREATER limit)
    message(FATAL_ERROR "${what}: ${size} bytes, past the limit of ${limit}")
  endif()
  math(EXPR last "${size} - 1")
  file(READ ${path} end OFFSET ${last} HEX)
  if(NOT end STREQUAL "0a")
    message(FATAL_ERROR "${what}: does not end in a whole line (last byte 0x${end})")
  endif()
endfunction()

# The log 4 bytes short of the limit: the module's lines do not fit.
write_lines(${WORK_DIR}/Quillfern.log 1020)
file(READ ${WORK_DIR}/Quillfern.log before)
host("the log at the limit" 0 played six.remote)
expect("the log at the limit" "${every_key}" "${played}")
file(READ ${WORK_DIR}/Quillfern.log after)
if(NOT after STREQUAL before)
  message(FATAL_ERROR "the log at the limit changed:\n${after}")
endif()

# The trace with room for its header and a few steps: it stops mid-run.
file(REMOVE ${WORK_DIR}/Quillfern.log)
write_lines(${WORK_DIR}/limit.trace 700)
host_in("KOLVANE_TRACE=limit.trace" "" "the trace at the limit" 0 traced six.remote)
expect("the trace at the limit" "${every_key}" "${traced}")
expect_whole("the trace at the limit" ${WORK_DIR}/limit.trace)
file(READ ${WORK_DIR}/limit.trace trace)
expect("the trace at the limit" "\n# kolvane [^\n]*\n# a kolvane-host script[^\n]*\nraw 0xFF " "${trace}")
expect_trace_log_line(
  "^kolvane: The trace file limit\\.trace has reached the file-size limit of this process; the trace of this run stops there\\.$")
