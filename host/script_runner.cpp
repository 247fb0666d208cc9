#include "host/script_runner.h"

#include <chrono>
#include <thread>

#include "host/receiver_schedule.h"

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

bool PlayScript(Session& session, const Script& script, const std::atomic<bool>& interrupted) {
  const ReceiverSchedule schedule = BuildReceiverSchedule(script);
  // Deadlines count from one start, so a late wake-up does not shift the rest.
  const Clock::time_point start = Clock::now();
  bool completed = true;
  for (const ReceiverChange& change : schedule.changes) {
    if (!SleepUntil(start + std::chrono::milliseconds(change.atMs), interrupted)) {
      completed = false;
      break;
    }
    // Told first, so its line always comes before the key it causes.
    if (change.step >= 0) session.Narrate(script.steps[static_cast<size_t>(change.step)].text);
    session.ShowByte(change.byte);
  }
  if (completed) completed = SleepUntil(start + std::chrono::milliseconds(schedule.lengthMs), interrupted);
  session.ShowByte(kIdleReceiverByte);
  if (completed) completed = SleepUntil(Clock::now() + std::chrono::milliseconds(kTailMs), interrupted);
  return completed;
}

}  // namespace host
}  // namespace kolvane
