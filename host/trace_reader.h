// What kolvane-host reads from a trace beyond its steps: the reports the
// module recorded, which receiver byte each came with, whether the file was
// cut by its size cap, and whether it is a trace at all (its first line is a
// run's header), whose first byte was on the receiver before the module's
// first poll.
#ifndef KOLVANE_HOST_TRACE_READER_H
#define KOLVANE_HOST_TRACE_READER_H

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

namespace kolvane {
namespace host {

struct TracedReport {
  int64_t ms;  // since the run (or the replay) began
  std::string name;
  bool repeat;
};

struct TraceReading {
  bool isTrace = false;  // the text begins with a run's header
  bool cut = false;      // it ends with the size cap's note
  // The report comments whose byte's step the trace holds whole, in order.
  // A report is written before the step of the byte that made it, so those
  // after the last step (the cap fell between them and their byte) are left
  // out and counted in `unstepped`.
  std::vector<TracedReport> reports;
  size_t unstepped = 0;
  std::set<int> stepLinesWithReports;  // 1-based lines of the steps during which a report was made
  int lastStepLine = 0;                // 0 when there is no step
};

TraceReading ReadTrace(const std::string& text);

// True for a run's header line, "# kolvane VERSION trace, PLATFORM, started ...".
bool IsTraceHeader(const std::string& line);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TRACE_READER_H
