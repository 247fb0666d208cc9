#include "host/receiver_schedule.h"

#include "testbed/simulated_device.h"

namespace kolvane {
namespace host {

ReceiverSchedule BuildReceiverSchedule(const Script& script) {
  ReceiverSchedule schedule;
  uint64_t now = 0;
  auto show = [&](uint8_t byte, uint32_t forMs, int step) {
    schedule.changes.push_back(ReceiverChange{now, byte, step, false});
    now += forMs;
  };
  for (size_t i = 0; i < script.steps.size(); ++i) {
    const Step& step = script.steps[i];
    const int index = static_cast<int>(i);
    switch (step.kind) {
      case StepKind::kPress:
        show(step.byte, step.durationMs, index);
        show(kIdleReceiverByte, kReleaseIdleMs, -1);
        break;
      case StepKind::kHold:
        show(step.byte, kPressShowMs, index);
        show(static_cast<uint8_t>(step.byte | kHeldBit), step.durationMs - kPressShowMs, -1);
        show(kIdleReceiverByte, kReleaseIdleMs, -1);
        break;
      case StepKind::kWait: show(kIdleReceiverByte, step.durationMs, index); break;
      case StepKind::kRaw: show(step.byte, step.durationMs, index); break;
    }
  }
  schedule.lengthMs = now;
  if (script.fromTrace && !script.steps.empty() && script.steps.front().kind == StepKind::kRaw) {
    schedule.startByte = script.steps.front().byte;
  }
  return schedule;
}

}  // namespace host
}  // namespace kolvane
