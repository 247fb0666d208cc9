#include "host/trace_compare.h"

#include <stdio.h>
#include <stdlib.h>

#include "receiver/trace_format.h"

namespace kolvane {
namespace host {
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

std::string Seconds(int64_t ms) {
  char text[32];
  snprintf(text, sizeof text, "%lld.%03llds", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return text;
}

std::string Describe(const Group& group) {
  std::string text = group.first->name + " " + (group.repeat() ? kTraceRepeat : kTraceFresh);
  if (group.count > 1) text += " x" + std::to_string(group.count);
  return text + " at " + Seconds(group.first->ms);
}

// A lone repeat may be missing on either side: the other side's polls fell
// just before the repeat delay ran out.
bool MayBeMissing(const Group& group) { return group.repeat() && group.count == 1; }

}  // namespace

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
          return "at " + Seconds(a.first->ms) + ": expected " + Describe(a) + ", got " + Describe(b);
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
      return "at " + Seconds(want[i].first->ms) + ": expected " + Describe(want[i]) + ", got " + Describe(have[j]);
    } else if (i < want.size()) {
      return "at " + Seconds(want[i].first->ms) + ": expected " + Describe(want[i]) + ", got nothing more";
    } else {
      return "at " + Seconds(have[j].first->ms) + ": expected nothing more, got " + Describe(have[j]);
    }
  }
  return "";
}

}  // namespace host
}  // namespace kolvane
