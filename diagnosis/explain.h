// `kolvane-host --explain TRACE`: why a remote "does nothing", read out of
// a trace run by run, for the person who supports a host rather than for
// the decoder's author. Each finding names what went wrong, its evidence
// (the trace's lines and times) and what to do; a run with none gets one
// line with its keys, repeats and polls.
#ifndef KOLVANE_TRACE_EXPLAIN_H
#define KOLVANE_TRACE_EXPLAIN_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "receiver/device.h"
#include "text/counts.h"
#include "trace/reader.h"

namespace kolvane {

// A button held longer than this is no person's: a stuck key, or something
// lying on the remote. Holding VolumeUp from silence to full takes some 20 s.
constexpr uint32_t kStuckKeyMs = 30 * 1000;
// A key reported fresh again after the receiver was idle for less than this
// is one press read as two. A person who releases a button and presses it
// again keeps it up for 100 ms at the very least (the fastest finger taps
// some eight times a second, half of each tap on the way up), and the
// polls, a period apart, see a gap up to one period (20 ms) shorter or
// longer than it was: a gap the polls saw for less than 60 ms, one or two
// polls, leaves a period's margin below anything a person does. A script's
// two presses of a key, 100 ms of idle apart, stay above it.
constexpr uint32_t kDoublePressGapMs = 3 * kPollPeriodMs;
// A press byte (the held bit clear) shown longer than this is a receiver
// that latched it: a remote turns it into its held state, or releases it,
// within about 100 ms, and a scripted press lasts 100 ms. Ten times that
// leaves room for a slow remote and a long scripted press; the time late
// polls held the thread is not counted, so a slow OnKey is not taken for it.
constexpr uint32_t kLatchedPressMs = 1000;
// A finding lists this many pieces of evidence, then counts the rest.
constexpr size_t kMaxEvidence = 5;
// A code at most this many bits from a key's is taken for a bit error.
constexpr int kBitErrorMaxBits = 1;

// In order of importance: a run's findings come sorted by it.
enum class FindingKind {
  kNoPolls,           // the module never polled the receiver
  kNoHeldBitByte,     // no byte with the held bit set, so no report at all
  kByteNeverChanged,  // every poll read the same byte
  kLatchedPress,      // a press byte shown for longer than kLatchedPressMs
  kDoublePress,       // a key fresh again after an idle gap shorter than kDoublePressGapMs
  kRepeatsNoPress,    // repeats of a held state whose press byte never came
  kUnknownCode,       // a code no key of the remote has
  kStuckKey,          // a key held for longer than kStuckKeyMs
  kLatePolls,         // the poll thread was held
  kGivenUp,           // Stop could not wait for the poll thread
  kCutBySizeCap,      // the trace ends where the file reached its cap
  kEndedEarly,        // a run with no closing comment, or a file cut mid-line
};

// The name a program reads (--format jsonl): "late_polls".
const char* FindingName(FindingKind kind);

struct Evidence {
  int line;          // in the trace
  int64_t ms;        // since the run began; < 0 when the line has no time
  std::string text;  // what the line shows
};

struct Finding {
  explicit Finding(FindingKind findingKind) : kind(findingKind) {}

  FindingKind kind;
  std::string summary;  // what is wrong, one sentence
  std::vector<Evidence> evidence;
  size_t moreEvidence = 0;  // evidence not listed
  std::string cause;        // "" when the summary says it
  std::string cost;         // what it cost the keys, "" when the summary says it
  std::string action;       // what to do
};

struct RunExplanation {
  int headerLine = 0;
  std::string started;  // the header after "trace, ": platform and start, made printable
  size_t fresh = 0;
  size_t repeats = 0;
  uint64_t polls = 0;  // about: counted from the byte lines' lengths and the late polls
  int64_t ms = 0;      // the run's length as its byte lines (or its end) tell it
  std::vector<Finding> findings;

  // "11 keys (6 fresh, 5 repeats), about 150 polls over 3.020s"
  std::string Counts() const;
};

struct TraceExplanation {
  std::string trace;  // the file's name
  std::vector<RunExplanation> runs;

  size_t RunsWithFindings() const;
  size_t Findings() const;
  // "run 2 of 3 (from line 28)", or the file's name when it holds one run.
  std::string RunName(size_t index) const;
};

RunExplanation ExplainRun(const TraceRun& run);
TraceExplanation ExplainTrace(const TraceReading& reading, const std::string& name);

}  // namespace kolvane

#endif  // KOLVANE_TRACE_EXPLAIN_H
