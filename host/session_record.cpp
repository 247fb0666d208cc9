#include "host/session_record.h"

#include <algorithm>

namespace kolvane {
namespace host {

Summary Summarize(const SessionRecord& record) {
  Summary summary;
  summary.buttonsPressed = record.buttonsPressed;
  summary.unknownCodes = record.unknownCodes;
  summary.outputDropped = record.outputDropped;
  std::vector<int64_t> delays;
  for (const KeyReport& report : record.reports) {
    ++summary.keysReported;
    if (!report.fresh) {
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

}  // namespace host
}  // namespace kolvane
