// Turns the receiver byte of each poll into key reports: a fresh press when
// the byte changes to a value with bit 0 clear, and auto-repeats while a byte
// with bit 0 set stays unchanged for more than kRepeatDelayMs. Pure state and
// arithmetic on a caller-supplied clock, so it is tested on a virtual one.
#ifndef KOLVANE_RECEIVER_KEY_DECODER_H
#define KOLVANE_RECEIVER_KEY_DECODER_H

#include <stdint.h>

#include "receiver/device.h"

namespace kolvane {

constexpr uint32_t kPressCodeMask = 0xFB;   // a fresh press: bit 2 ignored
constexpr uint32_t kRepeatCodeMask = 0xFA;  // a repeat: bits 0 and 2 cleared

class KeyDecoder {
 public:
  struct Step {
    bool report;    // dispatch `code`
    uint32_t code;  // key code to look up
    bool remark;    // restart the repeat timer at the tick read after the report: on every
                    // poll with bit 0 clear, and after each repeat
  };

  explicit KeyDecoder(uint32_t startTick) : lastByte_(kNoByte), markTick_(startTick) {}

  // One poll: `byte` is the receiver byte (0-255) read at tick `now`.
  Step OnPoll(uint32_t byte, uint32_t now);
  // Restarts the repeat timer; the caller passes the tick read after the report.
  void Remark(uint32_t now) { markTick_ = now; }

  int32_t lastByte() const { return lastByte_; }
  uint32_t markTick() const { return markTick_; }

 private:
  // No byte with bit 0 set seen yet: nothing is reported until one is.
  static constexpr int32_t kNoByte = -1;

  int32_t lastByte_;
  uint32_t markTick_;
};

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_KEY_DECODER_H
