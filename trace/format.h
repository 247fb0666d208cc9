// The trace a poll thread can write of its run, and the script format it is
// written in: what the module writes and kolvane-host reads back.
//
// A trace is a kolvane-host script. Each receiver byte is a step
//   raw 0xNN DURATIONms
// (consecutive polls that read the same byte make one step, timed from the
// first poll that saw it to the first poll that saw the next byte), and each
// report the module made is a comment
//   # 12.345s Kolvane_ChannelUp fresh        (or "repeat")
// with the time since the run began. Other comments head and close the run.
#ifndef KOLVANE_TRACE_FORMAT_H
#define KOLVANE_TRACE_FORMAT_H

#include <stdint.h>

namespace kolvane {

// A trace file stops growing at this size, with a last comment saying so;
// a file that ends in that comment takes no more runs.
constexpr uint64_t kTraceSizeCap = uint64_t{8} * 1024 * 1024;
constexpr const char kTraceCapComment[] = "# trace stopped: the file reached its size cap of 8 MiB\n";

// A script step lasts at most this long; a longer byte takes several steps.
constexpr uint32_t kScriptMaxDurationMs = 3600u * 1000u;

// The words a report comment ends with.
constexpr const char kTraceFresh[] = "fresh";
constexpr const char kTraceRepeat[] = "repeat";

// How a reader knows the comments that frame a trace: a run's header begins
// "# kolvane VERSION trace, ", and a trace cut by the size cap ends with a
// comment that begins kTraceCapNoteStart.
constexpr const char kTraceHeaderStart[] = "# kolvane ";
constexpr const char kTraceHeaderKind[] = " trace, ";
constexpr const char kTraceCapNoteStart[] = "# trace stopped:";

}  // namespace kolvane

#endif  // KOLVANE_TRACE_FORMAT_H
