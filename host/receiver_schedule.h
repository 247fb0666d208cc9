// What the simulated receiver shows for a script: the receiver byte of
// 0x200 as a list of timed changes, the way a real remote's receiver
// behaves. A press shows the key's code, then idle (0xFF); a hold shows the
// code, then the held state (code | 1), then idle. Pure data, so the
// sequence is checked without a clock.
#ifndef KOLVANE_HOST_RECEIVER_SCHEDULE_H
#define KOLVANE_HOST_RECEIVER_SCHEDULE_H

#include <stdint.h>

#include <vector>

#include "host/script.h"

namespace kolvane {
namespace host {

struct ReceiverChange {
  uint32_t atMs;  // since the script began
  uint8_t byte;   // the receiver byte from then on
  int step;       // index of the step that begins here, or -1
};

struct ReceiverSchedule {
  std::vector<ReceiverChange> changes;
  uint32_t lengthMs = 0;  // the end of the last step; the receiver is idle from then on
};

ReceiverSchedule BuildReceiverSchedule(const Script& script);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_RECEIVER_SCHEDULE_H
