// --explain TRACE --timeline FILE.svg: a trace drawn as it was recorded,
// with no replay: the receiver byte from its byte lines, the reports and
// the late polls it noted, the start of each run, and each finding of the
// explanation where its evidence is. The runs follow one another, each
// on its own clock as the trace times it.
#ifndef KOLVANE_HOST_TRACE_TIMELINE_H
#define KOLVANE_HOST_TRACE_TIMELINE_H

#include <vector>

#include "diagnosis/explain.h"
#include "host/report/session_record.h"
#include "host/report/timeline.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {

struct TraceDrawing {
  SessionRecord record;
  std::vector<TimelineFinding> findings;
};

TraceDrawing DrawTrace(const TraceReading& reading, const TraceExplanation& explanation);

// When line `line` of `run` happened, in ms since the run began: the time
// of the last line at or before it that has one (its header's is 0).
int64_t LineTimeMs(const TraceRun& run, int line);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TRACE_TIMELINE_H
