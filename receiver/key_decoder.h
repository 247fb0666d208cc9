// Turns the receiver byte of each poll into key reports: a fresh press when
// the byte changes to a value with the held bit clear, and repeats while a byte
// with the held bit set stays unchanged for more than kRepeatDelayMs. Pure state and
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
  // What one poll decides.
  struct PollResult {
    bool report;      // dispatch `code`
    uint32_t code;    // key code to look up
    bool repeat;      // the byte's held bit is set: a report is a repeat
    bool renewsMark;  // the repeat mark moves to the tick read after the report: on every
                      // poll with the held bit clear, and after each repeat
  };

  explicit KeyDecoder(uint32_t startTick) : lastByte_(kNoByte), markTick_(startTick) {}

  // One poll of `byte` (0-255), in the order the repeat timing depends on:
  // `clock()` gives the poll's tick, `handle(result, tick)` makes the report
  // (when result.report) and whatever else the poll does, and a result that
  // renews the repeat mark sets it to a second `clock()`, read after `handle`
  // returned, so the time the sink took never counts toward the next repeat.
  // `clock` is called at most twice; nothing is allocated. Returns the result.
  template <typename Clock, typename Handler>
  PollResult Poll(uint32_t byte, Clock&& clock, Handler&& handle) {
    const uint32_t now = clock();
    const PollResult result = Decode(byte, now);
    handle(result, now);
    if (result.renewsMark) markTick_ = clock();
    return result;
  }

  int32_t lastByte() const { return lastByte_; }
  uint32_t markTick() const { return markTick_; }

 private:
  // No byte with the held bit set seen yet: nothing is reported until one is.
  static constexpr int32_t kNoByte = -1;

  PollResult Decode(uint32_t byte, uint32_t now);

  int32_t lastByte_;
  uint32_t markTick_;
};

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_KEY_DECODER_H
