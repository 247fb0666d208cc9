// What happened in a session, for the output, the summary and the timeline.
// Times are microseconds since the module was started.
#ifndef KOLVANE_HOST_SESSION_RECORD_H
#define KOLVANE_HOST_SESSION_RECORD_H

#include <stdint.h>

#include <string>
#include <vector>

#include "testbed/sim_card.h"

namespace kolvane {
namespace host {

struct ByteRecord {
  int64_t us;
  uint8_t byte;
};

struct KeyReport {
  int64_t us;
  std::string name;
  std::string label;  // "" when the key has none
  bool repeat;        // the poll saw the held bit set: a repeat, else a fresh press
  int64_t delayUs;    // since the press (fresh) or the previous report (repeat)
  bool sincePress;    // which of the two delayUs counts from
};

// A poll that a trace recorded as late, "# 0.361s poll 300ms late": when it
// came and how late. A replay's own polls come on time, so its timeline
// shows the recorded ones beside them.
struct LatePollRecord {
  int64_t us;
  int64_t lateUs;
  int line;  // in the trace
};

// Where a run of a trace begins: its header line.
struct RunStartRecord {
  int64_t us;
  int headerLine;
};

struct RegisterRecord {
  int64_t us;
  testbed::RegisterAccess access;
};

struct SessionRecord {
  std::vector<ByteRecord> receiver;       // every change of the receiver byte
  std::vector<ByteRecord> polls;          // every poll of 0x200 and the byte it read
  std::vector<KeyReport> reports;         // every OnKey
  std::vector<RegisterRecord> setup;      // the set-up reads and writes
  std::vector<LatePollRecord> latePolls;  // the late polls a trace recorded
  std::vector<RunStartRecord> runStarts;  // a trace's runs
  int buttonsPressed = 0;                 // changes to a key's code (held bit clear)
  int unknownCodes = 0;                   // changes to a byte with the held bit clear that no key has
  uint64_t outputDropped = 0;             // lines the output could not take in time
  int64_t endUs = 0;
};

struct Summary {
  int buttonsPressed = 0;
  int unknownCodes = 0;
  int keysReported = 0;
  int fresh = 0;
  int repeats = 0;
  uint64_t outputDropped = 0;
  int delays = 0;  // fresh reports with a press-to-report delay
  double medianDelayMs = 0;
  double maxDelayMs = 0;
};

Summary Summarize(const SessionRecord& record);

// Adds `later`, a session that followed, to `all` as if it began where `all`
// ends: the runs of a trace one after another, for the summary and the
// timeline.
void AppendSession(SessionRecord* all, const SessionRecord& later);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SESSION_RECORD_H
