# The sample outputs in the docs are what kolvane-host prints: README.md's
# demo and host/README.md's Output section are played (`make demo`'s own
# command), and every line of each sample must appear in the same format
# and order, with numbers free to differ. Each --explain sample (a block
# that begins "Explain: NAME.trace") is --explain's output, line for line,
# on a trace the module records of the script named for NAME below. "…" marks lines a sample leaves
# out; elsewhere the sample's lines follow each other as the output's do,
# from its first line and to its last. Run by CTest with -DHOST, -DEXAMPLES,
# -DREADME, -DHOST_README and -DWORK_DIR.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/build)
# As `make demo` runs it, from a build folder two levels below the sources.
execute_process(COMMAND ${HOST} --timeline demo-timeline.svg ${EXAMPLES}/demo.remote WORKING_DIRECTORY ${WORK_DIR}/build
                RESULT_VARIABLE code OUTPUT_VARIABLE played ERROR_VARIABLE err)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "the demo exited ${code}:\n${played}${err}")
endif()

# Lines as a list: ';' and '[' would split or bind list elements.
function(lines_of text out)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<bracket>" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A sample line as a pattern: digits and runs of spaces free, the build
# folder and the script's folder anything. Both sides keep the list's
# stand-ins for ';' and '['.
function(pattern_of line out)
  string(REGEX REPLACE "([.+*?^$()|\\\\{}])" "\\\\\\1" line "${line}")
  string(REPLACE "<build folder>" ".+" line "${line}")
  string(REPLACE "\\.\\./\\.\\./host/examples/" ".+/" line "${line}")
  string(REGEX REPLACE "[0-9]+" "[0-9]+" line "${line}")
  string(REGEX REPLACE " +" " +" line "${line}")
  set(${out} "^${line}$" PARENT_SCOPE)
endfunction()

lines_of("${played}" output)
list(LENGTH output output_count)
foreach(doc ${README} ${HOST_README})
  file(READ ${doc} text)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<bracket>" text "${text}")
  string(REGEX MATCHALL "```\n[^`]*\nSummary: [^`]*```" samples "${text}")
  list(LENGTH samples sample_count)
  if(sample_count EQUAL 0)
    message(FATAL_ERROR "${doc}: no sample output (a block with a Summary: line)")
  endif()
  foreach(sample ${samples})
    string(REGEX REPLACE "^```\n(.*)```$" "\\1" sample "${sample}")
    string(REPLACE "<semicolon>" ";" sample "${sample}")
    string(REPLACE "<bracket>" "[" sample "${sample}")
    lines_of("${sample}" sample_lines)
    set(at 0)         # the output line the next sample line must match
    set(gap OFF)      # after a "…", any later output line may match
    foreach(line ${sample_lines})
      if(line STREQUAL "…")
        set(gap ON)
        continue()
      endif()
      pattern_of("${line}" pattern)
      set(found -1)
      while(at LESS output_count)
        list(GET output ${at} candidate)
        math(EXPR at "${at} + 1")
        if(candidate MATCHES "${pattern}")
          set(found ${at})
          break()
        elseif(NOT gap)
          break()
        endif()
      endwhile()
      if(found EQUAL -1)
        string(REPLACE "<semicolon>" ";" line "${line}")
        message(FATAL_ERROR "${doc}: the sample line\n${line}\nis not in the demo's output "
                            "(in this place and format; '…' marks left-out lines):\n${played}")
      endif()
      set(gap OFF)
    endforeach()
    if(NOT gap AND NOT at EQUAL output_count)
      message(FATAL_ERROR "${doc}: the sample ends before the demo's output does; mark the rest with '…':\n${played}")
    endif()
  endforeach()
endforeach()

# --- --explain's samples ------------------------------------------------------
# The script each sample's trace is recorded from, as its doc tells it, and
# kolvane-host's further options.
set(header "# kolvane 1.0.0 trace, test, started 2026-12-09 20:00:00\n")
set(script_card "${header}raw 0x00 300ms\nraw 0x58 100ms\nraw 0x00 320ms\nraw 0xD8 100ms\nraw 0x00 500ms\n")
set(script_remote "press ChannelUp\nhold VolumeUp 700ms\npress Mute\n")
set(script_slow "press ChannelUp\npress VolumeUp\nwait 500ms\npress Mute\nwait 300ms\n")
set(options_slow --slow-sink 300ms)
set(script_double "wait 200ms\nraw 0x58 300ms\nraw 0xFF 30ms\nraw 0x58 300ms\n")

# --explain's output for the trace NAME.trace recorded anew, its wrapped
# lines joined (numbers of other lengths wrap elsewhere), as a list.
function(explained name out)
  file(WRITE ${WORK_DIR}/${name}.remote "${script_${name}}")
  file(REMOVE ${WORK_DIR}/${name}.trace)
  execute_process(COMMAND ${HOST} --trace ${name}.trace ${options_${name}} ${name}.remote
                  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE code OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "recording ${name}.trace exited ${code}: ${err}")
  endif()
  # A busy machine may hold a poll where the sample shows none: the comment
  # that says so is taken out (it changes no report).
  if(NOT DEFINED options_${name})
    file(READ ${WORK_DIR}/${name}.trace trace)
    string(REGEX REPLACE "# [0-9.]+s poll [0-9]+ms late" "" trace "${trace}")
    file(WRITE ${WORK_DIR}/${name}.trace "${trace}")
  endif()
  execute_process(COMMAND ${HOST} --explain ${name}.trace WORKING_DIRECTORY ${WORK_DIR} OUTPUT_VARIABLE text)
  string(REGEX REPLACE "\n +" " " text "${text}")
  lines_of("${text}" lines)
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# True in `matched` when every line of `sample` matches its line of `output`.
function(sample_matches sample output matched)
  set(${matched} OFF PARENT_SCOPE)
  list(LENGTH sample count)
  list(LENGTH output output_count)
  if(NOT count EQUAL output_count)
    return()
  endif()
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(GET sample ${i} line)
    list(GET output ${i} candidate)
    pattern_of("${line}" pattern)
    if(NOT candidate MATCHES "${pattern}")
      return()
    endif()
  endforeach()
  set(${matched} ON PARENT_SCOPE)
endfunction()

set(explain_samples 0)
foreach(doc ${README} ${HOST_README})
  file(READ ${doc} text)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<bracket>" text "${text}")
  string(REGEX MATCHALL "```\nExplain: [^`]*```" samples "${text}")
  foreach(sample ${samples})
    string(REGEX REPLACE "^```\n(.*)```$" "\\1" sample "${sample}")
    string(REGEX REPLACE "^Explain: ([a-z_]+)\\.trace.*" "\\1" name "${sample}")
    if(NOT DEFINED script_${name})
      message(FATAL_ERROR "${doc}: an --explain sample of ${name}.trace, which this test has no script for")
    endif()
    string(REGEX REPLACE "\n +" " " sample "${sample}")
    lines_of("${sample}" sample_lines)
    # A busy machine may hold a poll and add a finding: tried three times.
    foreach(attempt RANGE 2)
      explained(${name} output)
      sample_matches("${sample_lines}" "${output}" matched)
      if(matched)
        break()
      endif()
    endforeach()
    if(NOT matched)
      string(REPLACE ";" "\n" output "${output}")
      string(REPLACE ";" "\n" sample_lines "${sample_lines}")
      message(FATAL_ERROR "${doc}: the --explain sample\n${sample_lines}\nis not what --explain says of ${name}.trace "
                          "(its wrapped lines joined, numbers free):\n${output}")
    endif()
    math(EXPR explain_samples "${explain_samples} + 1")
  endforeach()
endforeach()
if(explain_samples LESS 4)
  message(FATAL_ERROR "only ${explain_samples} --explain samples found in the docs")
endif()
