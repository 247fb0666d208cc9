# kolvane-host as a user meets it: exit codes and messages for bad scripts,
# bad flags and modules that cannot be used, every example script checked,
# and one example run to its end; the conventions of a command-line tool
# (--version, --option=value, messages that name the program and the OS's
# reason, JSON for everything with --format jsonl). Run by CTest with -DHOST,
# -DEMULATOR (may be empty), -DEXAMPLES, -DFOREIGN_LIBRARY (a library without
# the export), -DVERSION (the project's) and -DBENCH (kolvane-bench, or empty).
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

# With --format jsonl every line on standard output is one JSON object,
# problems that end the run included, and nothing goes to standard error.
function(run_host_jsonl expected_code pattern)
  execute_process(COMMAND ${EMULATOR} ${HOST} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}")
  if(NOT code EQUAL expected_code)
    message(SEND_ERROR "kolvane-host ${ARGN}: exit code ${code}, expected ${expected_code}\n${out}${err}")
  elseif(NOT err STREQUAL "")
    message(SEND_ERROR "kolvane-host ${ARGN}: wrote to standard error:\n${err}")
  elseif(NOT out MATCHES "^({[^\n]*}\n)+$")
    message(SEND_ERROR "kolvane-host ${ARGN}: not one JSON object a line:\n${out}")
  elseif(NOT out MATCHES "${pattern}")
    message(SEND_ERROR "kolvane-host ${ARGN}: output does not match '${pattern}':\n${out}")
  endif()
endfunction()

# A broken script is rejected whole, line by line, before any module loads.
run_host(2 "^kolvane-host: [^\n]*broken.remote:4: unknown key 'ChanelUp' \\(did you mean ChannelUp\\?\\)\nkolvane-host: [^\n]*broken.remote:5: expected 'hold KEY DURATION'\n.*broken.remote:6: bad duration '300'.*broken.remote:8: bad byte '0x1FF'.*broken.remote:9: unknown step 'jump'"
         --module no-such-dir/module ${EXAMPLES}/broken.remote)
run_host(2 "^kolvane-host: cannot read script no-such.remote: No such file or directory\n$" no-such.remote)
run_host(2 "^kolvane-host: unknown option '--slow' \\(see kolvane-host --help\\)\n$" --slow ${EXAMPLES}/demo.remote)
run_host(2 "^kolvane-host: unknown format 'xml'" --format xml ${EXAMPLES}/demo.remote)
run_host(2 "^kolvane-host: --timeline needs a value" ${EXAMPLES}/demo.remote --timeline)
run_host(2 "^kolvane-host: --verbose takes no value" --verbose=yes ${EXAMPLES}/demo.remote)
# A second script, however given, is refused naming both as they were given.
run_host(2 "^kolvane-host: more than one script: 'a.remote' and 'b.remote'" a.remote b.remote)
run_host(2 "^kolvane-host: more than one script: 'a.remote' and --compare 'b.trace'" a.remote --compare b.trace)
run_host(2 "^kolvane-host: more than one script: --compare 'a.trace' and 'b.remote'" --compare a.trace b.remote)
run_host(2 "^kolvane-host: more than one script: --compare 'a.trace' and --explain 'b.trace'" --compare a.trace --explain b.trace)
run_host(2 "^kolvane-host: cannot write timeline no-such-dir/t.svg: No such file or directory\n$"
         --timeline=no-such-dir/t.svg ${EXAMPLES}/demo.remote)
# --trace that cannot be written is said before anything runs, not only in the module's log.
run_host(2 "^kolvane-host: cannot write trace no-such-dir/session.trace: No such file or directory\n$"
         --trace no-such-dir/session.trace ${EXAMPLES}/demo.remote)

# --version: the project's version, the one the module's trace header carries.
run_host(0 "^kolvane-host ${VERSION}\n$" --version)
run_host(0 "\n  -h, --help [^\n]*\n  --version " --help)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/one.remote "press 1\n")
file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/version.trace)
run_host(0 "Kolvane_1" --trace=version.trace one.remote)
file(STRINGS ${CMAKE_CURRENT_BINARY_DIR}/version.trace header LIMIT_COUNT 1)
if(NOT header MATCHES "^# kolvane ${VERSION} trace, ")
  message(SEND_ERROR "the trace header '${header}' carries another version than --version's ${VERSION}")
endif()

# Durations in the units people write; zero is named as the problem.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/units.remote "wait 1h\nwait 2min\nhold Mute 1.5s\npress 1 60ms\n")
run_host(0 "units.remote: 4 steps, no errors" --check units.remote)
run_host(0 "one.remote: 1 step, no errors" --check one.remote)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/zero.remote "wait 0ms\n")
run_host(2 "^kolvane-host: zero.remote:1: duration '0ms' is zero: a step lasts at least 1ms\n$" zero.remote)

# --option=value wherever --option value; JSON for everything with jsonl.
run_host_jsonl(0 "^{\"event\":\"check\",\"script\":\"one.remote\",\"steps\":1}\n$" --format=jsonl --check one.remote)
run_host_jsonl(0 "^{\"event\":\"remote_key\",\"code\":[0-9]+,\"name\":\"Kolvane_[^\n]*\"spelling\":" --keys --format jsonl)
run_host_jsonl(2 "^{\"event\":\"problem\",\"message\":\"cannot read script no-such.remote: No such file or directory\"}\n$"
               --format jsonl no-such.remote)
run_host_jsonl(2 "^{\"event\":\"problem\",\"message\":\"unknown option '--slow'" --slow --format=jsonl one.remote)
run_host_jsonl(2 "{\"event\":\"problem\",\"message\":\"zero.remote:1: duration '0ms' is zero" --format=jsonl zero.remote)
run_host_jsonl(3 "^{\"event\":\"problem\",\"message\":\"cannot load module no-such-dir/module"
               --format=jsonl --module=no-such-dir/module one.remote)

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

# Reports are fresh or repeat, as in the trace; a code no key has is
# counted apart from the buttons.
run_host(0 "Kolvane_TV +- +fresh.*Kolvane_ChannelUp +ChannelUp +fresh.*Kolvane_ChannelUp +ChannelUp +repeat .*Summary: 2 buttons pressed, 2 unknown codes, [0-9]+ keys reported \\(2 fresh, [0-9]+ repeats?\\)"
         ${EXAMPLES}/raw-bytes.remote)

# kolvane-bench: the same conventions, checked without measuring anything.
if(BENCH)
  foreach(case "0;^kolvane-bench ${VERSION}\n$;--version" "0;\n  -h, --help ;--help"
               "2;^kolvane-bench: unknown option '--fast' \\(see kolvane-bench --help\\)\n$;--fast"
               "2;^kolvane-bench: bad seed 'x';--seed=x" "2;^kolvane-bench: --json takes no value;--json=1")
    list(POP_FRONT case expected_code pattern)
    execute_process(COMMAND ${EMULATOR} ${BENCH} ${case} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REPLACE "\r" "" text "${out}${err}")
    if(NOT code EQUAL expected_code OR NOT text MATCHES "${pattern}")
      message(SEND_ERROR "kolvane-bench ${case}: exit code ${code} (expected ${expected_code}), output:\n${text}")
    endif()
  endforeach()
endif()
