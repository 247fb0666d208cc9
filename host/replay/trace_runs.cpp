#include "host/replay/trace_runs.h"

#include <limits>

#include "host/replay/fast_replay.h"

namespace kolvane {
namespace host {

std::vector<Script> RunScripts(const Script& script, const TraceReading& trace) {
  std::vector<Script> runs;
  runs.reserve(trace.runs.size());
  size_t step = 0;
  for (size_t i = 0; i < trace.runs.size(); ++i) {
    const int nextHeader = i + 1 < trace.runs.size() ? trace.runs[i + 1].headerLine : std::numeric_limits<int>::max();
    Script run;
    run.fileName = script.fileName;
    run.fromTrace = script.fromTrace;
    for (; step < script.steps.size() && script.steps[step].line < nextHeader; ++step) {
      run.steps.push_back(script.steps[step]);
    }
    runs.push_back(std::move(run));
  }
  return runs;
}

std::vector<RunReplay> PlanRuns(const Script& script, const TraceReading& trace, bool fast) {
  std::vector<Script> scripts = RunScripts(script, trace);
  std::vector<RunReplay> runs(scripts.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    RunReplay& run = runs[i];
    run.trace = trace.runs[i];
    run.script = std::move(scripts[i]);
    run.schedule = BuildReceiverSchedule(run.script);
    if (fast) MarkQuietChanges(&run.schedule, ChangesWithReports(run.schedule, run.script, run.trace));
  }
  return runs;
}

namespace {
constexpr int64_t kUsPerMs = 1000;
}  // namespace

std::vector<TracedReport> ReplayedReports(const RunReplay& run, const std::vector<int64_t>& shownUs,
                                          const std::vector<KeyReport>& reports) {
  std::vector<TracedReport> got;
  got.reserve(reports.size());
  for (const KeyReport& report : reports) {
    got.push_back(TracedReport{TraceTimeUs(run.schedule, shownUs, report.us) / kUsPerMs, report.name, report.repeat});
  }
  return got;
}

void AddRecordedNotes(const RunReplay& run, const std::vector<int64_t>& shownUs, SessionRecord* record) {
  if (run.trace.headerLine > 0) record->runStarts.push_back(RunStartRecord{0, run.trace.headerLine});
  for (const TracedLatePoll& late : run.trace.latePolls) {
    const int64_t us = ReplayTimeUs(run.schedule, shownUs, late.ms * kUsPerMs);
    record->latePolls.push_back(LatePollRecord{us, int64_t{late.lateMs} * kUsPerMs, late.line});
  }
}

}  // namespace host
}  // namespace kolvane
