// What the simulated receiver shows for a script: the receiver byte of
// 0x200 as a list of timed changes, the way a real remote's receiver
// behaves. A press shows the key's code, then idle (0xFF); a hold shows the
// code, then the held state (code | 1), then idle. Pure data, so the
// sequence is checked without a clock.
#ifndef KOLVANE_HOST_RECEIVER_SCHEDULE_H
#define KOLVANE_HOST_RECEIVER_SCHEDULE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "host/script/script.h"
#include "receiver/device.h"

namespace kolvane {
namespace host {

// Times are 64-bit: a script may be longer than a 32-bit count of
// milliseconds (49.7 days), and a trace of a long idle spell is.
struct ReceiverChange {
  uint64_t atMs;  // since the script began
  uint8_t byte;   // the receiver byte from then on
  int step;       // index of the step that begins here, or -1
  // A fast replay shows it only until the module has polled it once (see
  // fast_replay.h).
  bool quick = false;
};

struct ReceiverSchedule {
  std::vector<ReceiverChange> changes;
  uint64_t lengthMs = 0;  // the end of the last step; the receiver is idle from then on
  // What the receiver shows before the module's first poll: idle, or a
  // trace's first byte.
  uint8_t startByte = kIdleReceiverByte;
  // A fast replay stops the module once a poll has seen the idle receiver
  // after the last step, rather than after a tail of real time.
  bool quickTail = false;

  // How long change `i` lasts.
  uint64_t DurationMs(size_t i) const {
    return (i + 1 < changes.size() ? changes[i + 1].atMs : lengthMs) - changes[i].atMs;
  }
};

ReceiverSchedule BuildReceiverSchedule(const Script& script);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_RECEIVER_SCHEDULE_H
