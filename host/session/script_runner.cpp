#include "host/session/script_runner.h"

#include <chrono>
#include <thread>

namespace kolvane {
namespace host {
namespace {

using Clock = std::chrono::steady_clock;
// How often a sleep looks at the interrupt flag.
constexpr std::chrono::milliseconds kInterruptCheck{10};

// Sleeps until `deadline`; false when interrupted first.
bool SleepUntil(Clock::time_point deadline, const std::atomic<bool>& interrupted) {
  for (;;) {
    if (interrupted.load()) return false;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kInterruptCheck));
  }
}

}  // namespace

bool PlaySchedule(Session& session, const Script& script, const ReceiverSchedule& schedule,
                  const std::atomic<bool>& interrupted, std::vector<int64_t>* shownUs) {
  // Deadlines count from one start, so a late wake-up does not shift the
  // rest; after a quick change they count from the poll that saw it.
  Clock::time_point start = Clock::now();
  uint64_t startAtMs = schedule.changes.empty() ? 0 : schedule.changes.front().atMs;
  const auto at = [&](uint64_t ms) { return start + std::chrono::milliseconds(static_cast<int64_t>(ms - startAtMs)); };
  bool completed = true;
  for (size_t i = 0; i < schedule.changes.size() && completed; ++i) {
    const ReceiverChange& change = schedule.changes[i];
    if (!SleepUntil(at(change.atMs), interrupted)) {
      completed = false;
      break;
    }
    // Told first, so its line always comes before the key it causes.
    if (change.step >= 0) session.Narrate(script.steps[static_cast<size_t>(change.step)].text);
    session.ShowByte(change.byte);
    if (shownUs != nullptr) shownUs->push_back(session.NowUs());
    if (change.quick) {
      completed = session.WaitUntilPolled(interrupted);
      start = Clock::now();
      startAtMs = change.atMs + schedule.DurationMs(i);
    }
  }
  if (completed) completed = SleepUntil(at(schedule.lengthMs), interrupted);
  // A trace's run ends on its own last byte, as the module saw it: a card
  // whose receiver reads 0x00 never shows the idle byte.
  if (!script.fromTrace) session.ShowByte(kIdleReceiverByte);
  if (completed) {
    completed = schedule.quickTail ? session.WaitUntilPolled(interrupted)
                                   : SleepUntil(Clock::now() + std::chrono::milliseconds(kTailMs), interrupted);
  }
  return completed;
}

}  // namespace host
}  // namespace kolvane
