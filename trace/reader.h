// What kolvane-host reads from a trace beyond its script: whether it is a
// trace at all (its first line is a run's header), where each of its runs
// begins (the module appends one at every Start), and per run the reports
// the module recorded, which receiver byte each came with, and whether the
// size cap cut it. A trace whose last line has no line end (a partial copy,
// a file cut mid-write) is read up to its last whole line.
#ifndef KOLVANE_TRACE_READER_H
#define KOLVANE_TRACE_READER_H

#include <stddef.h>
#include <stdint.h>

#include <set>
#include <string>
#include <vector>

namespace kolvane {

struct TracedReport {
  int64_t ms;  // since the run (or the replay) began
  std::string name;
  bool repeat;
  int line = 0;  // in the trace; 0 for a replay's
};

// A byte line as the module writes it, "raw 0xNN DURATIONms".
struct TracedByteLine {
  int line;
  uint32_t byte;
  uint32_t ms;  // how long the polls saw it
};

// A poll that came late, "# 1.520s poll 480ms late".
struct TracedLatePoll {
  int line;
  int64_t ms;       // when it came, since the run began
  uint32_t lateMs;  // after its period
};

// One run of the module: its header line and every line up to the next
// run's header. Line numbers are the file's.
struct TraceRun {
  int headerLine = 0;  // 1-based; 0 for a script that is no trace
  std::string header;  // the header line as written, "" for a script that is no trace
  bool cut = false;    // it ends with the size cap's note
  // The report comments whose byte's line the run holds whole, in order.
  // A report is written before the byte line of the byte that made it, so
  // those after the last byte line (the cap fell between them and their byte) are left
  // out and counted in `reportsAfterLastByteLine`.
  std::vector<TracedReport> reports;
  size_t reportsAfterLastByteLine = 0;
  std::vector<TracedReport> reportsAfterLastByte;  // those reports themselves
  std::set<int> byteLinesWithReports;              // the byte lines during which a report was made
  int lastByteLine = 0;                            // 0 when there is no byte line
  int cutLine = 0;                                 // where the size cap's note is, when cut
  // Its byte lines in the module's own format (one written otherwise, by
  // hand, is left out and counted), and the polls that came late.
  std::vector<TracedByteLine> byteLines;
  size_t otherByteLines = 0;
  std::vector<TracedLatePoll> latePolls;
  // Its closing comment: when the run ended, and whether Stop gave it up.
  int endLine = 0;  // 0: none (the application ended first, or the run goes on)
  int64_t endMs = 0;
  bool givenUp = false;
  int lastLine = 0;     // its last whole line
  int partialLine = 0;  // the file ends in the middle of this line, in this run; 0: it does not
};

struct TraceReading {
  bool isTrace = false;  // the text begins with a run's header
  // A trace's runs in order; a script that is no trace is one run of all of it.
  std::vector<TraceRun> runs;
  // A trace whose last line has no line end: that line's number, and the
  // length of the text before it (its whole lines). 0 and the text's
  // length otherwise.
  int partialLine = 0;
  size_t wholeLength = 0;
};

// A text that begins with a UTF-8 byte-order mark is read without it.
constexpr const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

TraceReading ReadTrace(const std::string& text);

// The text a replay plays: a trace's whole lines, without the line it was
// cut in; any other text as it is.
std::string PlayedText(const std::string& text, const TraceReading& reading);

// True for a run's header line, "# kolvane VERSION trace, PLATFORM, started ...".
bool IsTraceHeader(const std::string& line);

}  // namespace kolvane

#endif  // KOLVANE_TRACE_READER_H
