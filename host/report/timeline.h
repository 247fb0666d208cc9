// A picture of a session as SVG, on one time axis: the receiver byte over
// time, every poll of 0x200 as a tick, every reported key as a mark (fresh
// presses and repeats told apart), the polls a trace recorded as late, the
// start of each run of a trace, and --explain's findings where their
// evidence is. Quiet stretches are cut short (timeline_scale.h) and labels
// are left out where they would crowd each other.
#ifndef KOLVANE_HOST_TIMELINE_H
#define KOLVANE_HOST_TIMELINE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "host/report/session_record.h"

namespace kolvane {
namespace host {

// The widest picture, however long the session.
constexpr double kTimelineMaxWidth = 4000;

// One piece of a finding's evidence: its trace line, and when (on the
// picture's clock).
struct TimelineEvidence {
  int64_t us;
  int line;
};

// A finding of --explain, drawn where its evidence is and listed below the
// time axis with its lines.
struct TimelineFinding {
  std::string kind;  // as --format jsonl names it: "late_polls"
  std::string run;   // "run 2 of 3 (from line 28)", or "" for a trace of one run
  std::string summary;
  std::vector<TimelineEvidence> evidence;
  size_t moreEvidence = 0;  // not listed by the explanation
};

std::string RenderTimeline(const SessionRecord& record, const std::string& title,
                           const std::vector<TimelineFinding>& findings = {});

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TIMELINE_H
