# kolvane-host as a user meets it: exit codes and messages for bad scripts,
# bad flags and modules that cannot be used, every example script checked,
# and one example run to its end. Run by CTest with -DHOST, -DEMULATOR (may
# be empty), -DEXAMPLES and -DFOREIGN_LIBRARY (a library without the export).
set(failures 0)

function(run_host expected_code pattern)
  execute_process(COMMAND ${EMULATOR} ${HOST} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" text "${out}${err}")
  if(NOT code EQUAL expected_code)
    message(SEND_ERROR "kolvane-host ${ARGN}: exit code ${code}, expected ${expected_code}\n${text}")
  elseif(NOT text MATCHES "${pattern}")
    message(SEND_ERROR "kolvane-host ${ARGN}: output does not match '${pattern}':\n${text}")
  endif()
endfunction()

# A broken script is rejected whole, line by line, before any module loads.
run_host(2 "broken.remote:4: unknown key 'ChanelUp' \\(did you mean ChannelUp\\?\\)\n.*broken.remote:5: expected 'hold KEY DURATION'\n.*broken.remote:6: bad duration '300'.*broken.remote:8: bad byte '0x1FF'.*broken.remote:9: unknown step 'jump'"
         --module no-such-dir/module ${EXAMPLES}/broken.remote)
run_host(2 "cannot read script no-such.remote" no-such.remote)
run_host(2 "unknown option '--slow'" --slow ${EXAMPLES}/demo.remote)
run_host(2 "unknown format 'xml'" --format xml ${EXAMPLES}/demo.remote)
run_host(2 "--timeline needs a value" ${EXAMPLES}/demo.remote --timeline)

# A module that is missing or lacks the export: one line, path and reason.
run_host(3 "^kolvane-host: cannot load module no-such-dir/module[^\n]*: [^\n]+\n$" --module no-such-dir/module
         ${EXAMPLES}/demo.remote)
run_host(3 "^kolvane-host: module ${FOREIGN_LIBRARY} has no export [^\n]*GetInterfacePtr[^\n]*\n$"
         --module ${FOREIGN_LIBRARY} ${EXAMPLES}/demo.remote)

file(GLOB examples ${EXAMPLES}/*.remote)
foreach(example ${examples})
  if(NOT example MATCHES "broken.remote$")
    run_host(0 "no errors" --check ${example})
  endif()
endforeach()

run_host(0 "Kolvane_TV +- +fresh.*Kolvane_ChannelUp +ChannelUp +fresh.*Kolvane_ChannelUp +ChannelUp +held.*Summary: 4 buttons pressed"
         ${EXAMPLES}/raw-bytes.remote)
