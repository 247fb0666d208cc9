#include "host/report/session_record.h"

#include <algorithm>

namespace kolvane {
namespace host {
namespace {

template <typename Record>
void AppendShifted(std::vector<Record>* all, const std::vector<Record>& later, int64_t offsetUs) {
  for (Record record : later) {
    record.us += offsetUs;
    all->push_back(record);
  }
}

}  // namespace

Summary Summarize(const SessionRecord& record) {
  Summary summary;
  summary.buttonsPressed = record.buttonsPressed;
  summary.unknownCodes = record.unknownCodes;
  summary.outputDropped = record.outputDropped;
  std::vector<int64_t> delays;
  for (const KeyReport& report : record.reports) {
    ++summary.keysReported;
    if (report.repeat) {
      ++summary.repeats;
      continue;
    }
    ++summary.fresh;
    if (report.sincePress) delays.push_back(report.delayUs);
  }
  summary.delays = static_cast<int>(delays.size());
  if (delays.empty()) return summary;
  std::sort(delays.begin(), delays.end());
  const size_t middle = delays.size() / 2;
  const double median = delays.size() % 2 == 1
                            ? static_cast<double>(delays[middle])
                            : (static_cast<double>(delays[middle - 1]) + static_cast<double>(delays[middle])) / 2;
  summary.medianDelayMs = median / 1000.0;
  summary.maxDelayMs = static_cast<double>(delays.back()) / 1000.0;
  return summary;
}

void AppendSession(SessionRecord* all, const SessionRecord& later) {
  const int64_t offset = all->endUs;
  AppendShifted(&all->receiver, later.receiver, offset);
  AppendShifted(&all->polls, later.polls, offset);
  AppendShifted(&all->reports, later.reports, offset);
  AppendShifted(&all->setup, later.setup, offset);
  AppendShifted(&all->latePolls, later.latePolls, offset);
  AppendShifted(&all->runStarts, later.runStarts, offset);
  all->buttonsPressed += later.buttonsPressed;
  all->unknownCodes += later.unknownCodes;
  all->outputDropped += later.outputDropped;
  all->endUs = offset + later.endUs;
}

}  // namespace host
}  // namespace kolvane
