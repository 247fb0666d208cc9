#include "host/replay/fast_replay.h"

#include <algorithm>

#include "receiver/device.h"
#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"

namespace kolvane {
namespace host {
namespace {

constexpr int64_t kUsPerMs = 1000;

// A held byte whose repeats name a key: its timer decides reports.
bool RepeatsKey(uint8_t byte) {
  return IsHeldByte(byte) && FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, byte & kRepeatCodeMask) != nullptr;
}

}  // namespace

std::vector<bool> ChangesWithReports(const ReceiverSchedule& schedule, const Script& script, const TraceRun& run) {
  std::vector<bool> withReports(schedule.changes.size(), false);
  for (size_t i = 0; i < schedule.changes.size(); ++i) {
    const int step = schedule.changes[i].step;
    if (step < 0) continue;
    withReports[i] = run.byteLinesWithReports.count(script.steps[static_cast<size_t>(step)].line) != 0;
  }
  return withReports;
}

void MarkQuietChanges(ReceiverSchedule* schedule, const std::vector<bool>& withReports) {
  // Backwards: does the timer left at the end of change i still matter? After
  // the last change the receiver idles until the module is stopped.
  bool timerMatters = RepeatsKey(kIdleReceiverByte);
  schedule->quickTail = !timerMatters;
  for (size_t i = schedule->changes.size(); i-- > 0;) {
    ReceiverChange& change = schedule->changes[i];
    const bool heldAndMatters = IsHeldByte(change.byte) && (RepeatsKey(change.byte) || timerMatters);
    change.quick = !withReports[i] && !heldAndMatters;
    timerMatters = heldAndMatters;
  }
}

int64_t TraceTimeUs(const ReceiverSchedule& schedule, const std::vector<int64_t>& shownUs, int64_t replayUs) {
  if (shownUs.empty() || replayUs < shownUs.front()) return replayUs;
  const size_t i =
      static_cast<size_t>(std::upper_bound(shownUs.begin(), shownUs.end(), replayUs) - shownUs.begin()) - 1;
  const ReceiverChange& change = schedule.changes[i];
  int64_t into = replayUs - shownUs[i];
  if (change.quick) into = std::min(into, static_cast<int64_t>(schedule.DurationMs(i)) * kUsPerMs);
  return shownUs.front() + static_cast<int64_t>(change.atMs - schedule.changes.front().atMs) * kUsPerMs + into;
}

int64_t ReplayTimeUs(const ReceiverSchedule& schedule, const std::vector<int64_t>& shownUs, int64_t traceUs) {
  const size_t shown = std::min(shownUs.size(), schedule.changes.size());
  if (shown == 0 || traceUs < shownUs.front()) return traceUs;
  const auto traceStartUs = [&](size_t i) {
    return shownUs.front() + static_cast<int64_t>(schedule.changes[i].atMs - schedule.changes.front().atMs) * kUsPerMs;
  };
  // The last change that began by then (the changes' times only grow).
  size_t low = 0, high = shown;
  while (high - low > 1) {
    const size_t middle = low + (high - low) / 2;
    (traceStartUs(middle) <= traceUs ? low : high) = middle;
  }
  const size_t i = low;
  int64_t into = traceUs - traceStartUs(i);
  if (schedule.changes[i].quick && i + 1 < shown) into = std::min(into, shownUs[i + 1] - shownUs[i]);
  return shownUs[i] + into;
}

}  // namespace host
}  // namespace kolvane
