// Plays a script on a running session in real time.
#ifndef KOLVANE_HOST_SCRIPT_RUNNER_H
#define KOLVANE_HOST_SCRIPT_RUNNER_H

#include <atomic>

#include "host/script.h"
#include "host/session.h"

namespace kolvane {
namespace host {

// Idle time after the last step, so the last polls and reports come in.
constexpr uint32_t kTailMs = 200;

// Shows the script's receiver bytes at their times, narrating each step as
// it begins, then leaves the receiver idle for kTailMs. False when
// `interrupted` was set before the end.
bool PlayScript(Session& session, const Script& script, const std::atomic<bool>& interrupted);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SCRIPT_RUNNER_H
