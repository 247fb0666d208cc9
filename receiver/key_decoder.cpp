#include "receiver/key_decoder.h"

namespace kolvane {

KeyDecoder::PollResult KeyDecoder::Decode(uint32_t byte, uint32_t now) {
  const int32_t current = static_cast<int32_t>(byte);
  if (IsHeldByte(byte)) {
    // Elapsed time in unsigned arithmetic, so the 2^32 wrap of the tick
    // counter neither fires a repeat early nor delays one.
    const bool repeat = current == lastByte_ && now - markTick_ > kRepeatDelayMs;
    lastByte_ = current;
    return PollResult{repeat, byte & kRepeatCodeMask, true, repeat};
  }
  const bool press = current != lastByte_ && lastByte_ != kNoByte;
  if (press) lastByte_ = current;
  return PollResult{press, byte & kPressCodeMask, false, true};
}

}  // namespace kolvane
