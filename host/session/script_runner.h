// Plays a script on a running session in real time.
#ifndef KOLVANE_HOST_SCRIPT_RUNNER_H
#define KOLVANE_HOST_SCRIPT_RUNNER_H

#include <stdint.h>

#include <atomic>
#include <vector>

#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "host/session/session.h"

namespace kolvane {
namespace host {

// Idle time after the last step, so the last polls and reports come in.
constexpr uint32_t kTailMs = 200;

// Shows the schedule's receiver bytes at their times, narrating each of the
// script's steps as it begins, then leaves the receiver idle for kTailMs (a
// quick tail: until a poll has seen it); a trace's run keeps its last byte
// instead. A quick change stays only until the
// module has polled it; the changes after it keep their spacing from there.
// `shownUs`, when given, receives when each change went on the receiver
// (session time). False when `interrupted` was set before the end. The
// session must have been started with the schedule's startByte.
bool PlaySchedule(Session& session, const Script& script, const ReceiverSchedule& schedule,
                  const std::atomic<bool>& interrupted, std::vector<int64_t>* shownUs = nullptr);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SCRIPT_RUNNER_H
