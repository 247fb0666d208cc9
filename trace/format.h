// The trace a poll thread can write of its run, and the script format it is
// written in: what the module writes and kolvane-host reads back.
//
// A trace is a kolvane-host script. Each receiver byte is a byte line,
//   raw 0xNN DURATIONms
// which the script reads as one step (consecutive polls that read the same
// byte make one byte line, timed from the first poll that saw it to the
// first poll that saw the next byte), and each
// report the module made is a comment
//   # 12.345s Kolvane_ChannelUp fresh        (or "repeat")
// with the time since the run began. Other comments head and close the run,
// and note a poll that came late.
#ifndef KOLVANE_TRACE_FORMAT_H
#define KOLVANE_TRACE_FORMAT_H

#include <stdint.h>

#include "kolvane/device.h"
#include "receiver/device.h"

namespace kolvane {

constexpr uint64_t kBytesPerKiB = 1024;
constexpr uint64_t kBytesPerMiB = 1024 * kBytesPerKiB;

// A trace file stops growing at this size, with a last comment saying so:
// kTraceCapComment, then the cap as FormatTraceCap (recorder.h) writes it,
// "# trace stopped: the file reached its size cap of 8 MiB". A file that
// ends in that comment takes no more runs; a reader knows a run the cap cut
// by a line that begins with it.
constexpr uint64_t kTraceSizeCap = 8 * kBytesPerMiB;
constexpr const char kTraceCapComment[] = "# trace stopped: the file reached its size cap of ";

// A script step lasts at most this long (a script refuses a longer one), an
// hour, as a simulated card's longest hold; the trace writes a longer byte as
// several byte lines.
constexpr uint32_t kScriptMaxDurationMs = KOLVANE_MAX_HOLD_MS;

// The first word of the byte line a trace writes for a receiver byte.
constexpr const char kTraceByteWord[] = "raw";

// The words a report comment ends with.
constexpr const char kTraceFresh[] = "fresh";
constexpr const char kTraceRepeat[] = "repeat";

// A poll that came at least kLatePollMs later than its period after the one
// before is noted in a comment, "# 1.520s poll 480ms late": when it came and
// by how much. A reader takes it as it takes any other comment.
constexpr uint32_t kLatePollMs = kPollPeriodMs;
constexpr const char kTraceLatePoll[] = "poll";
constexpr const char kTraceLate[] = "late";

// A run's closing comment, "# end of run, 1.730s after it began", with
// kTraceGivenUp at its end when Stop could not wait for the poll thread.
constexpr const char kTraceEndStart[] = "# end of run, ";
constexpr const char kTraceGivenUp[] = ", given up by Stop";

// A run's header, by which a reader knows where each run begins:
// "# kolvane VERSION trace, PLATFORM, started DATE TIME".
constexpr const char kTraceHeaderStart[] = "# kolvane ";
constexpr const char kTraceHeaderKind[] = " trace, ";

}  // namespace kolvane

#endif  // KOLVANE_TRACE_FORMAT_H
