#include "host/report/trace_timeline.h"

#include <algorithm>
#include <utility>

#include "host/script/key_names.h"
#include "receiver/device.h"

namespace kolvane {
namespace host {
namespace {

constexpr int64_t kUsPerMs = 1000;
// A run with no byte line still takes this much room, so that its start and
// its findings stand apart from the next run's.
constexpr int64_t kShortestRunMs = 5 * int64_t{kPollPeriodMs};

// How long the run lasted as its lines tell it: the byte lines (the first
// poll a period after the run began), or a later report, late poll or end.
int64_t RunLengthMs(const TraceRun& run) {
  int64_t ms = run.byteLines.empty() ? 0 : int64_t{kPollPeriodMs};
  for (const TracedByteLine& byteLine : run.byteLines) ms += byteLine.ms;
  ms = std::max(ms, run.endMs);
  if (!run.reports.empty()) ms = std::max(ms, run.reports.back().ms);
  for (const TracedLatePoll& late : run.latePolls) ms = std::max(ms, late.ms);
  return std::max(ms, kShortestRunMs);
}

void AddBytes(const TraceRun& run, int64_t offsetUs, SessionRecord* record) {
  int64_t atMs = kPollPeriodMs;
  bool first = true;
  for (const TracedByteLine& byteLine : run.byteLines) {
    const auto byte = static_cast<uint8_t>(byteLine.byte);
    // The byte lines of an hour-long spell are one stretch of the line.
    if (first || record->receiver.back().byte != byte) {
      record->receiver.push_back(ByteRecord{offsetUs + atMs * kUsPerMs, byte});
    }
    first = false;
    atMs += byteLine.ms;
  }
}

void AddReports(const TraceRun& run, int64_t offsetUs, SessionRecord* record) {
  for (const TracedReport& report : run.reports) {
    const RemoteKey* key = FindKeyBySpelling(report.name);
    record->reports.push_back(KeyReport{offsetUs + report.ms * kUsPerMs, report.name, key != nullptr ? key->label : "",
                                        report.repeat, 0, false});
  }
}

void AddRun(const TraceRun& run, int64_t offsetUs, SessionRecord* record) {
  record->runStarts.push_back(RunStartRecord{offsetUs, run.headerLine});
  AddBytes(run, offsetUs, record);
  AddReports(run, offsetUs, record);
  for (const TracedLatePoll& late : run.latePolls) {
    record->latePolls.push_back(
        LatePollRecord{offsetUs + late.ms * kUsPerMs, int64_t{late.lateMs} * kUsPerMs, late.line});
  }
}

// The run of `reading` that begins at `headerLine`; `fallback` when none does.
size_t RunIndex(const TraceReading& reading, int headerLine, size_t fallback) {
  for (size_t i = 0; i < reading.runs.size(); ++i) {
    if (reading.runs[i].headerLine == headerLine) return i;
  }
  return fallback;
}

TimelineFinding Drawn(const Finding& finding, const TraceRun& run, int64_t offsetUs, std::string runName) {
  TimelineFinding drawn{FindingName(finding.kind), std::move(runName), finding.summary, {}, finding.moreEvidence};
  for (const Evidence& evidence : finding.evidence) {
    const int64_t ms = evidence.ms >= 0 ? evidence.ms : LineTimeMs(run, evidence.line);
    drawn.evidence.push_back(TimelineEvidence{offsetUs + ms * kUsPerMs, evidence.line});
  }
  return drawn;
}

}  // namespace

int64_t LineTimeMs(const TraceRun& run, int line) {
  std::vector<std::pair<int, int64_t>> timed{{run.headerLine, 0}};
  int64_t atMs = kPollPeriodMs;
  for (const TracedByteLine& byteLine : run.byteLines) {
    timed.emplace_back(byteLine.line, atMs);
    atMs += byteLine.ms;
  }
  for (const TracedReport& report : run.reports) timed.emplace_back(report.line, report.ms);
  for (const TracedLatePoll& late : run.latePolls) timed.emplace_back(late.line, late.ms);
  if (run.endLine != 0) timed.emplace_back(run.endLine, run.endMs);
  std::sort(timed.begin(), timed.end());
  int64_t ms = 0;
  for (const auto& [timedLine, timedMs] : timed) {
    if (timedLine > line) break;
    ms = timedMs;
  }
  return ms;
}

TraceDrawing DrawTrace(const TraceReading& reading, const TraceExplanation& explanation) {
  TraceDrawing drawing;
  std::vector<int64_t> offsetsUs;
  for (const TraceRun& run : reading.runs) {
    offsetsUs.push_back(drawing.record.endUs);
    AddRun(run, drawing.record.endUs, &drawing.record);
    drawing.record.endUs += RunLengthMs(run) * kUsPerMs;
  }
  for (size_t i = 0; i < explanation.runs.size(); ++i) {
    const size_t index = RunIndex(reading, explanation.runs[i].headerLine, i);
    if (index >= reading.runs.size()) continue;
    const std::string runName = explanation.runs.size() > 1 ? explanation.RunName(i) : "";
    for (const Finding& finding : explanation.runs[i].findings) {
      drawing.findings.push_back(Drawn(finding, reading.runs[index], offsetsUs[index], runName));
    }
  }
  return drawing;
}

}  // namespace host
}  // namespace kolvane
