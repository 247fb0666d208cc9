# The sample outputs in the docs are what kolvane-host prints: README.md's
# demo and host/README.md's Output section are played (`make demo`'s own
# command), and every line of each sample must appear in the same format
# and order, with numbers free to differ. "…" marks lines a sample leaves
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
