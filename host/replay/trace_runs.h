// A trace's runs, each replayed as the module saw it. The module appends a
// run at every Start, so a trace usually holds many: each is played on its
// own, with a fresh Start, from its own first byte, and its report times
// count from its own start. A script that is no trace is one run.
#ifndef KOLVANE_HOST_TRACE_RUNS_H
#define KOLVANE_HOST_TRACE_RUNS_H

#include <stdint.h>

#include <vector>

#include "host/report/session_record.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {

struct RunReplay {
  TraceRun trace;             // what the run recorded
  Script script;              // its steps alone
  ReceiverSchedule schedule;  // their receiver bytes, quick changes marked for a fast replay
};

// The steps of each of `trace`'s runs as a script of its own (a trace's
// run starts with its first byte on the receiver, see Script::fromTrace).
std::vector<Script> RunScripts(const Script& script, const TraceReading& trace);

// Every run of `script` ready to play; `fast` marks the stretches a fast
// replay cuts short (fast_replay.h).
std::vector<RunReplay> PlanRuns(const Script& script, const TraceReading& trace, bool fast);

// The reports a run's replay made, on the trace's clock: `shownUs` holds
// when each change of its schedule went on the receiver.
std::vector<TracedReport> ReplayedReports(const RunReplay& run, const std::vector<int64_t>& shownUs,
                                          const std::vector<KeyReport>& reports);

// What the run's trace recorded that its replay cannot make again, on the
// replay's clock, added to `record` for the timeline: where the run begins
// (a trace's run) and the polls that came late.
void AddRecordedNotes(const RunReplay& run, const std::vector<int64_t>& shownUs, SessionRecord* record);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TRACE_RUNS_H
