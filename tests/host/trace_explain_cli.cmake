# --explain as the support of a host developer meets it: every finding read
# out of a trace that the real module wrote under kolvane-host (scripts
# with raw steps, a sink made slow with --slow-sink, a file at its size
# cap), its evidence and what to do, a clean run in one line, JSON Lines,
# and the exit codes (0 nothing wrong, 1 something, 2 no trace). Late-poll
# comments change no report of a replay or of --compare. With -DLONG=ON it
# explains a key held past kStuckKeyMs instead, which takes half a minute.
# Run by CTest with -DHOST, -DEMULATOR (may be empty), -DWORK_DIR and -DLONG.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/host_runs.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
# A script in the trace's format: each run starts with its first byte on
# the receiver, before the module's first poll, and ends on its last.
set(header "# kolvane 1.0.0 trace, test, started 2026-12-09 20:00:00\n")

# Records SCRIPT_TEXT with the real module into WORK_DIR/NAME.trace, with
# kolvane-host's further options in ARGN.
function(record name script_text)
  file(WRITE ${WORK_DIR}/${name}.remote "${script_text}")
  file(REMOVE ${WORK_DIR}/${name}.trace)
  host("recording ${name}" 0 ignored --trace ${name}.trace ${ARGN} ${name}.remote)
endfunction()

# kolvane-host --explain ARGN into `output`, its wrapped lines joined: a
# finding's sentences and evidence then read as one line.
function(explain what expected_code output)
  host("${what}" ${expected_code} text --explain ${ARGN})
  string(REGEX REPLACE "\n +" " " text "${text}")
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

function(forbid what regex text)
  if(text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: expected no match of '${regex}', got:\n${text}")
  endif()
endfunction()

if(LONG)
  # A button held for 31 s: the remote keeps sending its held state.
  record(stuck "hold VolumeUp 31s\n")
  explain("a stuck key" 1 explained stuck.trace)
  expect("a stuck key"
         "1\\. Kolvane_VolumeUp was held for 3[0-9]\\.[0-9]+s, far longer than a person holds a button: a stuck button.* - line [0-9]+, [0-9.]+s: 0x58 \\(Kolvane_VolumeUp\\) for 0\\.[0-9]+s - line [0-9]+, [0-9.]+s: 0x59 \\(Kolvane_VolumeUp held\\) for 3[0-9]\\.[0-9]+s - line [0-9]+, [0-9.]+s: released: 0xFF \\(idle\\) .*repeated the key about every 200 ms: 1[0-9][0-9] repeats here\\. What to do: Look for a jammed button"
         "${explained}")
  return()
endif()

# --- 1, 2, 3: the receiver's bytes ------------------------------------------
# Run 1: a card whose idle receiver reads 0x00: VolumeUp is pressed and lost.
# Run 2: nothing ever changes. Run 3: a code of no key, once 1 bit from TV
# (a bit error), and 0xD2 three times (another remote), beside a real key.
record(bytes "${header}raw 0x00 300ms\nraw 0x58 100ms\nraw 0x00 300ms\n${header}raw 0xFF 600ms\n${header}raw 0xFF 200ms\nraw 0x6A 100ms\nraw 0xFF 200ms\nraw 0xD2 100ms\nraw 0xFF 200ms\nraw 0xD2 100ms\nraw 0xFF 200ms\nraw 0xD8 100ms\nraw 0xFF 200ms\nraw 0xD2 100ms\nraw 0xFF 200ms\n")
explain("explaining the bytes" 1 explained bytes.trace)
expect("three runs" "^Explain: 3 runs of bytes.trace: 3 with something wrong, 0 with nothing wrong\\.\n" "${explained}")
# (a busy machine may add late polls to any run: they come after these)
expect("no byte with bit 0 set"
       "Explain: run 1 of 3 \\(from line 1\\), [a-z]+ [a-z0-9_]+, started [0-9-]+ [0-9:]+: [0-9] things? wrong; 0 keys \\(0 fresh, 0 repeats\\), about [0-9]+ polls over [0-9.]+s\\. 1\\. No key could be reported: the receiver never showed a byte with the held bit \\(bit 0\\) set[^\n]* - line [0-9]+, [0-9.]+s: the first poll read 0x00 \\(Kolvane_Left\\) - line [0-9]+, [0-9.]+s: 0x58 \\(Kolvane_VolumeUp\\) for [0-9]+ ms: a press, not reported The card.s idle receiver reads 0x00 [^\n]* What to do: Check that the host's ReadRegister\\(0x200\\) fills in"
       "${explained}")
expect("a byte that never changed"
       "\nExplain: run 2 of 3 \\(from line [0-9]+\\)[^\n]*: [0-9] things? wrong; 0 keys[^\n]* 1\\. The receiver byte never changed: every poll, about [0-9]+ over [0-9.]+s, read 0xFF \\(idle\\)\\. - line [0-9]+, [0-9.]+s: 0xFF \\(idle\\) throughout [^\n]* What to do: Press a button while tracing"
       "${explained}")
expect("a bit error"
       "Code 0x6A is no key of this remote: the receiver showed it 1 time, and the module reported nothing for it\\. - line [0-9]+, [0-9.]+s: 0x6A for [0-9]+ ms The nearest key is Kolvane_TV \\(0x68\\), 1 bit apart: most likely a bit error"
       "${explained}")
expect("another remote"
       "Code 0xD2 is no key of this remote: the receiver showed it 3 times, [^\n]* The nearest key is [^\n]*Kolvane_ChannelUp \\(0xD8\\)[^\n]*, 2 bits apart, and the code came back: most likely another remote's button"
       "${explained}")
forbid("a key of the remote is no unknown code" "Code 0xD8" "${explained}")

# The same as JSON Lines: one object a finding, then the verdict.
host("explaining the bytes as JSON Lines" 1 json --explain bytes.trace --format jsonl)
expect("JSON Lines"
       "\\{\"event\":\"explain_run\",\"run\":1,\"runs\":3,\"run_line\":1,\"started\":\"[^\"]*\",\"findings\":[0-9],\"keys\":0,[^\n]*\n\\{\"event\":\"finding\",\"run\":1,\"runs\":3,\"run_line\":1,\"kind\":\"no_held_bit_byte\",\"summary\":\"No key could be reported: [^\n]*\"evidence\":\\[\\{\"line\":[0-9]+,\"time_ms\":[0-9]+,\"text\":\"the first poll read 0x00 \\(Kolvane_Left\\)\"\\},.*\"kind\":\"byte_never_changed\".*\"kind\":\"unknown_code\".*\"kind\":\"unknown_code\".*\n\\{\"event\":\"explain\",\"trace\":\"bytes.trace\",\"runs\":3,\"runs_with_findings\":3,\"findings\":[0-9]+\\}\n$"
       "${json}")

# --- 5: late polls, from a sink that holds the poll thread ------------------
# OnKey takes 300 ms: VolumeUp, shown 100 ms while the thread was held, is
# lost; the trace says which polls came late and how late.
record(slow "press ChannelUp\npress VolumeUp\nwait 500ms\npress Mute\nwait 500ms\n" --slow-sink 300ms)
file(READ ${WORK_DIR}/slow.trace slow)
expect("late-poll comments in the trace" "\n# [0-9]+\\.[0-9][0-9][0-9]s poll [0-9]+ms late\n" "${slow}")
explain("late polls" 1 explained slow.trace)
expect("late polls"
       "1\\. [0-9]+ polls came late, the longest [0-9]+ ms late at [0-9.]+s \\(line [0-9]+\\): the poll thread was held\\. .*- line [0-9]+, [0-9.]+s: poll (29[0-9]|[3-9][0-9][0-9]|[1-9][0-9][0-9][0-9]) ms late, right after Kolvane_ChannelUp fresh at [0-9.]+s \\(line [0-9]+\\).* [0-9]+ of [0-9]+ came right after a report: the host's OnKey held the poll thread[^\n]* What it cost: For up to [0-9]+ ms at a time \\([0-9]+ ms in all\\) no poll read the receiver: a press shorter than that could come and go unseen\\. What to do: Return from OnKey at once"
       "${explained}")
forbid("the lost press" "Kolvane_VolumeUp" "${slow}")

# Late-poll comments change no report: --compare matches, and so does the
# trace without them; a plain replay reports the same keys either way.
host("--compare with late-poll comments" 0 compared --compare slow.trace)
expect("--compare with late-poll comments" "Compare: the replay made the 2 reports that slow.trace recorded\\." "${compared}")
string(REGEX REPLACE "# [0-9.]+s poll [0-9]+ms late" "" bare "${slow}")
forbid("the comments removed" "ms late" "${bare}")
file(WRITE ${WORK_DIR}/bare.trace "${bare}")
host("--compare without them" 0 compared --compare bare.trace)
expect("--compare without them" "Compare: the replay made the 2 reports that bare.trace recorded\\." "${compared}")
foreach(trace slow bare)
  host("replaying ${trace}.trace" 0 replayed ${trace}.trace)
  string(REGEX MATCHALL "Kolvane_[A-Za-z]+ +[A-Za-z-]+ +(fresh|repeat)" keys "${replayed}")
  string(REGEX REPLACE " +" " " keys_${trace} "${keys}")
endforeach()
if(NOT keys_slow STREQUAL "Kolvane_ChannelUp ChannelUp fresh;Kolvane_Mute Mute fresh" OR
   NOT keys_slow STREQUAL keys_bare)
  message(FATAL_ERROR "replays with and without late-poll comments: '${keys_slow}' and '${keys_bare}'")
endif()

# --- 6: a run given up by Stop, a run cut by the size cap -------------------
# OnKey takes 6 s, longer than Stop waits: Stop gives the thread up, and
# kolvane-host waits for it to give back its references.
record(stuck_sink "press ChannelUp\n" --slow-sink 6s)
explain("given up by Stop" 1 explained stuck_sink.trace)
expect("given up by Stop"
       "Stop gave up waiting for the poll thread: a call into the host held the thread longer than Stop waits\\. - line [0-9]+, [0-9.]+s: the last report, Kolvane_ChannelUp fresh: if the thread was in its OnKey, that call never returned in time - line [0-9]+, [0-9.]+s: the run ended, given up by Stop"
       "${explained}")

# A file 200 bytes short of its 8 MiB cap takes the run's header and the
# cap's note, no byte line.
set(filler "raw 0xFF 20ms\nraw 0x58 20ms\n")
foreach(doubling RANGE 17)
  string(APPEND filler "${filler}")
endforeach()
string(LENGTH "${header}${filler}" length)
math(EXPR left "8388608 - 200 - ${length}")
math(EXPR comments "${left} / 64")
math(EXPR rest "${left} % 64")
string(REPEAT "#" 63 comment)
string(REPEAT "${comment}\n" ${comments} comments)
string(REPEAT "#" ${rest} tail)
file(WRITE ${WORK_DIR}/full.trace "${header}${filler}${comments}${tail}")
file(SIZE ${WORK_DIR}/full.trace size)
if(NOT size EQUAL 8388408)
  message(FATAL_ERROR "the full file holds ${size} bytes")
endif()
host("recording into a full file" 0 ignored --trace full.trace ${WORK_DIR}/slow.remote)
explain("cut by the size cap" 1 explained full.trace)
expect("cut by the size cap"
       "\nExplain: run 2 of 2 \\(from line [0-9]+\\)[^\n]*: [0-9] things? wrong;[^\n]* 1\\. The trace file reached its size cap of 8 MiB in this run: what happened after is not in it\\. - line [0-9]+: the size cap's note What to do: Move the trace file away"
       "${explained}")

# --- 7: nothing wrong, in one line ------------------------------------------
# A busy machine (Wine's most) may hold a poll too, and the trace says so:
# tried again, and if it still does, those comments are taken out.
# Presses, a long hold, a channel by number (a digit pressed twice, 100 ms
# of idle apart: a person's, no double press) and Power.
set(clean_script "press ChannelUp\nhold VolumeUp 2s\npress 1\npress 1\npress 2\npress Power\n")
foreach(attempt RANGE 2)
  record(clean "${clean_script}")
  file(READ ${WORK_DIR}/clean.trace clean)
  if(NOT clean MATCHES "ms late\n")
    break()
  endif()
endforeach()
string(REGEX REPLACE "# [0-9.]+s poll [0-9]+ms late" "" clean "${clean}")
file(WRITE ${WORK_DIR}/clean.trace "${clean}")
host("a clean trace" 0 explained --explain clean.trace)
expect("a clean trace"
       "^Explain: clean.trace: nothing wrong: [0-9]+ keys \\(6 fresh, [5-9] repeats\\), about [0-9]+ polls over [0-9.]+s\\.\n$"
       "${explained}")
host("a clean trace as JSON Lines" 0 json --explain clean.trace --format=jsonl)
expect("a clean trace as JSON Lines"
       "^\\{\"event\":\"explain_run\",\"run\":1,\"runs\":1,\"run_line\":1,[^\n]*\"findings\":0,[^\n]*\\}\n\\{\"event\":\"explain\",\"trace\":\"clean.trace\",\"runs\":1,\"runs_with_findings\":0,\"findings\":0\\}\n$"
       "${json}")

# --- 8: the troubles users report --------------------------------------------
# Each recorded by the real module from the script lines a support person
# would use; a busy machine (Wine's) may hold a poll that hides a short
# byte, so a recording is tried again until its trace shows what it played.
function(record_until name script_text regex)
  foreach(attempt RANGE 2)
    record(${name} "${script_text}")
    file(READ ${WORK_DIR}/${name}.trace recorded)
    if(recorded MATCHES "${regex}")
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${name}: no recording matched '${regex}':\n${recorded}")
endfunction()

# A double press: VolumeUp's signal lost for a poll or two mid-press.
record_until(double "wait 200ms\nraw 0x58 300ms\nraw 0xFF 30ms\nraw 0x58 300ms\n"
             "VolumeUp fresh\nraw 0x58 [0-9]+ms\nraw 0xFF [1-5][0-9]ms\n# [0-9.]+s Kolvane_VolumeUp fresh\n")
explain("a double press" 1 explained double.trace)
expect("a double press"
       "1\\. Kolvane_VolumeUp was reported fresh again after the receiver was idle for less than 60 ms, shorter than any real release and press: one press read as two \\(a double press\\)\\. - line [0-9]+, [0-9.]+s: 0xFF \\(idle\\) for [1-5][0-9] ms, after Kolvane_VolumeUp fresh at [0-9.]+s \\(line [0-9]+\\) - line [0-9]+, [0-9.]+s: Kolvane_VolumeUp fresh again, 3[0-9][0-9] ms after it"
       "${explained}")

# Repeats with no press: VolumeDown's held state, its press never shown.
record_until(no_press "wait 500ms\nraw 0x79 1s\n" "VolumeDown repeat")
explain("repeats with no press" 1 explained no_press.trace)
expect("repeats with no press"
       "1\\. Kolvane_VolumeDown was reported [3-7] times as a repeat with no fresh report before it: its held state \\(0x79\\) came without its press byte \\(0x78\\)\\. - line [0-9]+, [0-9.]+s: 0x79 \\(Kolvane_VolumeDown held\\) for [01]\\.[0-9]+s, after 0xFF \\(idle\\): no press before it - line [0-9]+, [0-9.]+s: Kolvane_VolumeDown repeat, the first of [3-7]"
       "${explained}")
# The same from the first poll: a trace replayed puts its first byte on the
# receiver before the module's first poll, as a button down at Start.
record_until(held_at_start "${header}raw 0x79 1s\n" "VolumeDown repeat")
explain("repeats from the first poll" 1 explained held_at_start.trace)
expect("repeats from the first poll"
       "1\\. Kolvane_VolumeDown was reported [3-7] times as a repeat with no fresh report[^\n]* - line [0-9]+, [0-9.]+s: 0x79 \\(Kolvane_VolumeDown held\\) for [0-9.]+s, from the first poll: no press before it .*a button already down when the application started the module"
       "${explained}")

# A latched receiver: ChannelUp's press byte stays 3 s.
record(latched "wait 200ms\nraw 0xD8 3s\nwait 200ms\n")
explain("a latched press byte" 1 explained latched.trace)
expect("a latched press byte"
       "1\\. The receiver kept Kolvane_ChannelUp's press byte \\(0xD8\\) for [23]\\.[0-9]+s, although a remote turns it into its held state, or releases it, within about a tenth of a second: a latched receiver\\. - line [0-9]+, [0-9.]+s: 0xD8 \\(Kolvane_ChannelUp\\) for [23]\\.[0-9]+s - line [0-9]+, [0-9.]+s: Kolvane_ChannelUp fresh, its one report .*What it cost: One fresh Kolvane_ChannelUp, then nothing for [23]\\.[0-9]+s: every button pressed meanwhile was lost"
       "${explained}")

# A trace cut in the middle of a line: replay, --compare and --explain read
# it up to its last whole line and say so.
file(READ ${WORK_DIR}/clean.trace clean)
string(FIND "${clean}" "raw 0x" last_byte_line REVERSE)
math(EXPR cut_at "${last_byte_line} + 6")
string(SUBSTRING "${clean}" 0 ${cut_at} cut)
file(WRITE ${WORK_DIR}/cut.trace "${cut}")
string(REGEX MATCHALL "\n" line_ends "${cut}")
list(LENGTH line_ends whole_lines)
math(EXPR cut_line "${whole_lines} + 1")
explain("a trace cut mid-line" 1 explained cut.trace)
expect("a trace cut mid-line"
       "1\\. The trace file ends in the middle of line ${cut_line}: it was read up to its last whole line, line ${whole_lines}, [0-9.]+s into this run\\. - line ${whole_lines}, [0-9.]+s: the last whole line of the run - line ${cut_line}: cut in the middle, with no line end The file is a partial copy"
       "${explained}")
host("replaying a trace cut mid-line" 0 replayed cut.trace)
expect("replaying a trace cut mid-line"
       "kolvane-host: cut.trace was cut in the middle of line ${cut_line}: played up to its last whole line, line ${whole_lines}\n.*Kolvane_Exit"
       "${replayed}")
host("--compare of a trace cut mid-line" 0 compared --compare cut.trace)
expect("--compare of a trace cut mid-line"
       "Compare: the replay made the [0-9]+ reports that cut.trace recorded\\.\nCompare: cut.trace was cut in the middle of line ${cut_line}: compared up to its last whole line, line ${whole_lines}\\.\n"
       "${compared}")
host("--compare of a cut trace as JSON Lines" 0 json --compare cut.trace --format jsonl)
expect("--compare of a cut trace as JSON Lines"
       "\"note\":\"cut.trace was cut in the middle of line ${cut_line}: compared up to its last whole line, line ${whole_lines}\"\\}"
       "${json}")

# A run that never ended, cut by a crash right after a report: every report
# its whole lines hold is counted, the last one's byte line missing.
string(FIND "${clean}" " Kolvane_Exit fresh\n" exit_report REVERSE)
string(LENGTH " Kolvane_Exit fresh\n" report_length)
math(EXPR crash_at "${exit_report} + ${report_length}")
string(SUBSTRING "${clean}" 0 ${crash_at} crashed)
file(WRITE ${WORK_DIR}/crashed.trace "${crashed}")
string(REGEX MATCHALL " (fresh|repeat)\n" recorded_reports "${crashed}")
list(LENGTH recorded_reports report_count)
explain("a run that never ended" 1 explained crashed.trace)
expect("a run that never ended"
       "^Explain: crashed.trace: 1 thing wrong; ${report_count} keys \\(6 fresh, [0-9]+ repeats\\)[^\n]* 1\\. The run has no closing comment: its trace ends at line [0-9]+, [0-9.]+s after the run began, without the line Stop writes\\. - line [0-9]+, [0-9.]+s: Kolvane_Exit fresh, after the last byte line: its byte's line is missing The application ended or crashed"
       "${explained}")
host("--compare of a run that never ended" 0 compared --compare crashed.trace)
expect("--compare of a run that never ended" "1 report recorded after its last byte line, whose byte it does not hold, was left out" "${compared}")

# --- what is no trace, and the command line ---------------------------------
host("a script is no trace" 2 refused --explain ${WORK_DIR}/slow.remote)
expect("a script is no trace" "kolvane-host: not a trace: [^\n]*slow.remote \\(no trace header\\)" "${refused}")
host("a missing file" 2 refused --explain no-such.trace)
expect("a missing file" "kolvane-host: cannot read script no-such.trace" "${refused}")
host("a directory" 2 refused --explain ${WORK_DIR})
host("--explain reads, it runs nothing" 2 refused --explain clean.trace --trace other.trace)
expect("--explain reads, it runs nothing" "--explain only reads a trace" "${refused}")
host("--explain and a script" 2 refused --explain clean.trace clean.remote)
expect("--explain and a script" "more than one script: --explain 'clean.trace' and 'clean.remote'" "${refused}")
host("a bad --slow-sink" 2 refused --slow-sink soon clean.remote)
expect("a bad --slow-sink" "bad duration 'soon' for --slow-sink" "${refused}")
host_in("" ${WORK_DIR}/clean.trace "--explain -" 0 explained --explain -)
expect("--explain -" "^Explain: <stdin>: nothing wrong: " "${explained}")
