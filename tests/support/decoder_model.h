// The receiver's decoding rules written out plainly, as a reference for the
// decoder: one poll at a time, on a clock of 64-bit milliseconds that never
// wraps, so "more than 200 ms have passed" means exactly that. The literal
// 32-bit sum form of the repeat test is kept as a second clock for checking
// that the decoder agrees with it wherever the tick counter does not wrap.
#ifndef KOLVANE_TESTBED_DECODER_MODEL_H
#define KOLVANE_TESTBED_DECODER_MODEL_H

#include <stdint.h>

namespace kolvane {
namespace model {

enum class RepeatClock {
  kRealTime,  // more than 200 ms of real time since the mark
  kTickSum,   // tick > (uint32_t)(markTick + 200), as the tick counter reads
};

struct Report {
  bool made = false;
  uint32_t code = 0;
};

class DecoderModel {
 public:
  DecoderModel(uint64_t startMs, RepeatClock clock) : mark_(startMs), clock_(clock) {}

  // One poll: `byte` read at `nowMs`; `afterMs` is the clock read after the
  // report (or right after the read when nothing was reported).
  Report Poll(int byte, uint64_t nowMs, uint64_t afterMs) {
    Report report;
    const bool held = (byte & 1) == 1;
    if (held) {
      if (byte == last_ && MoreThan200MsSinceMark(nowMs)) {
        report = Report{true, CodeOf(byte)};
        mark_ = afterMs;
      }
      last_ = byte;  // the only place a byte replaces "none seen yet"
      return report;
    }
    if (last_ != kNone && byte != last_) {
      last_ = byte;
      report = Report{true, CodeOf(byte)};
    }
    mark_ = afterMs;  // every clear poll restarts the timer
    return report;
  }

  int lastByte() const { return last_; }
  uint64_t markMs() const { return mark_; }

 private:
  static constexpr int kNone = -1;

  // The key code is the byte without its bits 0 and 2.
  static uint32_t CodeOf(int byte) { return static_cast<uint32_t>(byte) & ~uint32_t{0x05}; }

  bool MoreThan200MsSinceMark(uint64_t nowMs) const {
    if (clock_ == RepeatClock::kRealTime) return nowMs > mark_ + 200;
    const uint32_t tick = static_cast<uint32_t>(nowMs);
    const uint32_t limit = static_cast<uint32_t>(mark_ + 200);
    return tick > limit;
  }

  int last_ = kNone;
  uint64_t mark_;
  RepeatClock clock_;
};

}  // namespace model
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_DECODER_MODEL_H
