#include "host/script/receiver_schedule.h"

#include "kolvane/simcard.h"

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
      case StepKind::kHold: {
        // The simulated card's own press: a hold, or a press up to its
        // press time, shows just what kolvane_simcard_press shows; a longer
        // press shows its code for all its time.
        const bool longPress = step.kind == StepKind::kPress && step.durationMs > kPressShowMs;
        KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES];
        const int count = kolvane_simcard_phases(step.keyCode, longPress ? kPressShowMs : step.durationMs, phases);
        if (longPress) phases[0].ms = step.durationMs;
        for (int phase = 0; phase < count; ++phase) {
          show(static_cast<uint8_t>(phases[phase].receiver_byte), phases[phase].ms, phase == 0 ? index : -1);
        }
        break;
      }
      case StepKind::kWait: show(kIdleReceiverByte, step.durationMs, index); break;
      case StepKind::kRaw: show(step.receiverByte, step.durationMs, index); break;
    }
  }
  schedule.lengthMs = now;
  if (script.fromTrace && !script.steps.empty() && script.steps.front().kind == StepKind::kRaw) {
    schedule.startByte = script.steps.front().receiverByte;
  }
  return schedule;
}

}  // namespace host
}  // namespace kolvane
