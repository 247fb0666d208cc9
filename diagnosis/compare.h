// `kolvane-host --compare TRACE`: the reports a trace recorded, read from
// its comments, against the reports its replay made, run by run. Each hold
// may come out with one repeat more or fewer, because the replay's polls fall
// at another phase of the receiver's changes.
#ifndef KOLVANE_TRACE_COMPARE_H
#define KOLVANE_TRACE_COMPARE_H

#include <stddef.h>

#include <string>
#include <vector>

#include "trace/reader.h"

namespace kolvane {

// Empty when `got` makes the same reports as `expected`, else the first
// difference: when, what was expected, what came.
std::string FirstDifference(const std::vector<TracedReport>& expected, const std::vector<TracedReport>& got);

// One run of a trace against its replay.
struct RunComparison {
  int headerLine = 0;
  size_t reports = 0;      // the run's reports that were compared
  std::string difference;  // "" when they match, else as FirstDifference
  bool cut = false;        // the size cap cut the run: compared up to its last whole byte line
  int lastByteLine = 0;
  size_t reportsAfterLastByteLine = 0;  // reports after its last byte line, left out
};

RunComparison CompareRun(const TraceRun& run, const std::vector<TracedReport>& got);

// A trace's runs against their replays.
struct TraceComparison {
  std::string trace;  // the file's name
  std::vector<RunComparison> runs;
  int partialLine = 0;  // the file ends in the middle of this line: compared up to the line before

  size_t Matching() const;
  size_t Reports() const;
  bool Match() const { return Matching() == runs.size(); }
  // "run 2 of 3 (line 57)", or the file's name when it holds one run.
  std::string RunName(size_t index) const;
};

// What --compare concludes, one sentence a line: whether the runs match,
// then each run that differs, then what limited the comparison.
std::vector<std::string> ComparisonLines(const TraceComparison& comparison);

// "remote.trace was cut in the middle of line 57: compared up to its last
// whole line, line 56" (`done` "compared"): what a replay and --compare say
// of a trace whose last line has no line end.
std::string CutInLineNote(const std::string& trace, int partialLine, const char* done);

// The first run's difference, naming the run when there are several; "" when
// all match.
std::string FirstRunDifference(const TraceComparison& comparison);

// What limited the comparison (runs cut by the size cap, a file cut in the
// middle of a line), or "".
std::string ComparisonNote(const TraceComparison& comparison);

}  // namespace kolvane

#endif  // KOLVANE_TRACE_COMPARE_H
