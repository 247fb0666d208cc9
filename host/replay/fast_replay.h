// A fast replay: the stretches of a schedule that cannot change what the
// module reports are shown only until the module has polled them once, so a
// trace of an idle evening replays in moments, not in its own length.
//
// Why a stretch may be cut short, by the decoder's rules (receiver/
// key_decoder.h): a byte with the held bit clear can report only at its first
// poll, and every poll of it restarts the repeat timer, so what follows it
// sees the same timer whether it lasted one poll or an hour. A byte with
// the held bit set reports only repeats of its own code, and its polls restart the
// timer only when they repeat; so a held byte of no key (idle 0xFF, a code
// no key has) reports nothing however long it lasts, and what it leaves
// behind (the timer's phase) matters only to a later byte with the held bit set
// that comes before the next byte with the held bit clear. Hence a change is quick
// unless:
//   - the trace recorded a report during it;
//   - it has the held bit set and its code repeats a key;
//   - it has the held bit set and the timer it leaves can still make a repeat: the
//     changes after it, up to the next byte with the held bit clear, have the held bit set
//     and one of them repeats a key.
// A quick change keeps its position relative to the module's polls: the
// next byte goes on the receiver right after the poll that saw it, as a
// trace's next byte did (a trace times each byte from its first poll).
#ifndef KOLVANE_HOST_FAST_REPLAY_H
#define KOLVANE_HOST_FAST_REPLAY_H

#include <stdint.h>

#include <vector>

#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {

// Per change of `schedule`: did the run record a report during it (the
// step of its line holds one).
std::vector<bool> ChangesWithReports(const ReceiverSchedule& schedule, const Script& script, const TraceRun& run);

// Marks the changes that may be quick (above), and the idle tail after the
// last one, which reports nothing; `withReports` as from ChangesWithReports,
// or all false for a script that is no trace.
void MarkQuietChanges(ReceiverSchedule* schedule, const std::vector<bool>& withReports);

// A time of the replay (microseconds of the session) as the time the trace
// would give it: `shownUs` holds when each change went on the receiver; a
// quick change counts as long as the schedule says, so reports after it
// keep the trace's clock.
int64_t TraceTimeUs(const ReceiverSchedule& schedule, const std::vector<int64_t>& shownUs, int64_t replayUs);

// The other way round: a time of the trace (microseconds since its run
// began) as the replay's, for what the trace recorded and a replay cannot
// make again (a late poll). A time inside a quick change that the replay
// cut short falls at the end of what it showed of it.
int64_t ReplayTimeUs(const ReceiverSchedule& schedule, const std::vector<int64_t>& shownUs, int64_t traceUs);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_FAST_REPLAY_H
