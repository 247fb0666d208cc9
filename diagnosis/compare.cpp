#include "diagnosis/compare.h"

#include <stdio.h>
#include <stdlib.h>

#include "text/counts.h"
#include "text/printable.h"
#include "trace/format.h"

namespace kolvane {
namespace {

// A press, or the run of repeats that followed it: one key, one kind.
struct Group {
  const TracedReport* first;
  int count;
  bool repeat() const { return first->repeat; }
};

std::vector<Group> GroupRepeats(const std::vector<TracedReport>& reports) {
  std::vector<Group> groups;
  for (const TracedReport& report : reports) {
    if (report.repeat && !groups.empty() && groups.back().repeat() && groups.back().first->name == report.name) {
      ++groups.back().count;
    } else {
      groups.push_back(Group{&report, 1});
    }
  }
  return groups;
}

std::string Describe(const Group& group) {
  // The name comes from the trace, a file someone may have sent.
  std::string text = Printable(group.first->name) + " " + (group.repeat() ? kTraceRepeat : kTraceFresh);
  if (group.count > 1) text += " x" + std::to_string(group.count);
  return text + " at " + TraceTime(group.first->ms);
}

// A lone repeat may be missing on either side: the other side's polls fell
// just before the repeat delay ran out.
bool MayBeMissing(const Group& group) { return group.repeat() && group.count == 1; }

// A trace whose every run differs names this many of them, then counts the rest.
constexpr size_t kMaxDifferingRunsNamed = 10;

std::string RunDifference(const TraceComparison& comparison, size_t index) {
  const RunComparison& run = comparison.runs[index];
  if (comparison.runs.size() == 1) return "the replay differs from " + comparison.trace + " " + run.difference;
  return comparison.RunName(index) + " differs " + run.difference;
}

// What limited one run's comparison, or "".
std::string RunNote(const TraceComparison& comparison, size_t index) {
  const RunComparison& run = comparison.runs[index];
  std::string note;
  if (run.cut) {
    note = comparison.RunName(index) + " was cut by " + (comparison.runs.size() == 1 ? "its" : "the") +
           " size cap: compared up to its last whole byte line, line " + std::to_string(run.lastByteLine);
  }
  if (run.reportsAfterLastByteLine > 0) {
    note += (note.empty() ? comparison.RunName(index) + ": " : std::string("; ")) +
            Count(run.reportsAfterLastByteLine, "report", "reports") +
            " recorded after its last byte line, whose byte it does not hold, " +
            (run.reportsAfterLastByteLine == 1 ? "was" : "were") + " left out";
  }
  return note;
}

// A file cut in the middle of a line, or "".
std::string PartialLineNote(const TraceComparison& comparison) {
  if (comparison.partialLine == 0) return "";
  return CutInLineNote(comparison.trace, comparison.partialLine, "compared");
}

}  // namespace

std::string CutInLineNote(const std::string& trace, int partialLine, const char* done) {
  if (partialLine == 1) return trace + " was cut in the middle of its first line: it holds no whole line";
  return trace + " was cut in the middle of line " + std::to_string(partialLine) + ": " + done +
         " up to its last whole line, line " + std::to_string(partialLine - 1);
}

std::string FirstDifference(const std::vector<TracedReport>& expected, const std::vector<TracedReport>& got) {
  const std::vector<Group> want = GroupRepeats(expected);
  const std::vector<Group> have = GroupRepeats(got);
  size_t i = 0, j = 0;
  while (i < want.size() || j < have.size()) {
    if (i < want.size() && j < have.size()) {
      const Group& a = want[i];
      const Group& b = have[j];
      if (a.first->name == b.first->name && a.repeat() == b.repeat()) {
        if (abs(a.count - b.count) > 1) {
          return "at " + TraceTime(a.first->ms) + ": expected " + Describe(a) + ", got " + Describe(b);
        }
        ++i;
        ++j;
        continue;
      }
    }
    if (i < want.size() && MayBeMissing(want[i])) {
      ++i;
    } else if (j < have.size() && MayBeMissing(have[j])) {
      ++j;
    } else if (i < want.size() && j < have.size()) {
      return "at " + TraceTime(want[i].first->ms) + ": expected " + Describe(want[i]) + ", got " + Describe(have[j]);
    } else if (i < want.size()) {
      return "at " + TraceTime(want[i].first->ms) + ": expected " + Describe(want[i]) + ", got nothing more";
    } else {
      return "at " + TraceTime(have[j].first->ms) + ": expected nothing more, got " + Describe(have[j]);
    }
  }
  return "";
}

RunComparison CompareRun(const TraceRun& run, const std::vector<TracedReport>& got) {
  RunComparison comparison;
  comparison.headerLine = run.headerLine;
  comparison.reports = run.reports.size();
  comparison.difference = FirstDifference(run.reports, got);
  comparison.cut = run.cut;
  comparison.lastByteLine = run.lastByteLine;
  comparison.reportsAfterLastByteLine = run.reportsAfterLastByteLine;
  return comparison;
}

size_t TraceComparison::Matching() const {
  size_t matching = 0;
  for (const RunComparison& run : runs) matching += run.difference.empty() ? 1 : 0;
  return matching;
}

size_t TraceComparison::Reports() const {
  size_t reports = 0;
  for (const RunComparison& run : runs) reports += run.reports;
  return reports;
}

std::string TraceComparison::RunName(size_t index) const {
  if (runs.size() == 1) return trace;
  return "run " + std::to_string(index + 1) + " of " + std::to_string(runs.size()) + " (from line " +
         std::to_string(runs[index].headerLine) + ")";
}

std::vector<std::string> ComparisonLines(const TraceComparison& comparison) {
  const size_t runs = comparison.runs.size();
  std::vector<std::string> lines;
  if (comparison.Match()) {
    const std::string reports = Count(comparison.Reports(), "report", "reports");
    lines.push_back(runs == 1 ? "the replay made the " + reports + " that " + comparison.trace + " recorded"
                              : "all " + std::to_string(runs) + " runs of " + comparison.trace +
                                    " match: the replay made the " + reports + " they recorded");
  } else if (runs > 1) {
    lines.push_back(std::to_string(runs) + " runs of " + comparison.trace + ": " +
                    Count(comparison.Matching(), "matches", "match") + ", " +
                    Count(runs - comparison.Matching(), "differs", "differ"));
  }
  size_t named = 0;
  for (size_t i = 0; i < runs; ++i) {
    if (comparison.runs[i].difference.empty()) continue;
    if (named++ < kMaxDifferingRunsNamed) lines.push_back(RunDifference(comparison, i));
  }
  if (named > kMaxDifferingRunsNamed) {
    lines.push_back(Count(named - kMaxDifferingRunsNamed, "more run differs", "more runs differ"));
  }
  for (size_t i = 0; i < runs; ++i) {
    const std::string note = RunNote(comparison, i);
    if (!note.empty()) lines.push_back(note);
  }
  if (comparison.partialLine != 0) lines.push_back(PartialLineNote(comparison));
  return lines;
}

std::string FirstRunDifference(const TraceComparison& comparison) {
  for (size_t i = 0; i < comparison.runs.size(); ++i) {
    if (comparison.runs[i].difference.empty()) continue;
    return comparison.runs.size() == 1 ? comparison.runs[i].difference : RunDifference(comparison, i);
  }
  return "";
}

std::string ComparisonNote(const TraceComparison& comparison) {
  std::string notes;
  for (size_t i = 0; i < comparison.runs.size(); ++i) {
    const std::string note = RunNote(comparison, i);
    if (!note.empty()) notes += (notes.empty() ? "" : ". ") + note;
  }
  const std::string partial = PartialLineNote(comparison);
  if (!partial.empty()) notes += (notes.empty() ? "" : ". ") + partial;
  return notes;
}

}  // namespace kolvane
