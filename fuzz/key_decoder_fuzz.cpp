// libFuzzer target: the key decoder against the plain model of its rules.
//
// Input: a 4-byte start tick, then one record per poll: the receiver byte,
// a 16-bit time in ms from the previous clock read to the poll (0xFFFF: a
// 32-bit time follows) and one byte of ms that the report takes. Integers
// are little-endian. Any difference prints the run and traps.
//
// The decoder is checked against the model on real elapsed time everywhere,
// and against the literal sum form `tick > markTick + 200` for as long as the
// run stays clear of the 2^32 wrap.
#include <stddef.h>
#include <stdint.h>

#include <cstdio>

#include "tests/support/decoder_lockstep.h"

namespace {

using kolvane::model::DecoderLockstep;
using kolvane::model::RepeatClock;

constexpr uint16_t kLongElapsed = 0xFFFF;
constexpr uint64_t kLastSafeTick = 0xFFFFFFFFull - 200;  // mark + 200 still fits

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Byte(uint32_t& value) { return Take(1, value); }
  bool U16(uint32_t& value) { return Take(2, value); }
  bool U32(uint32_t& value) { return Take(4, value); }

 private:
  bool Take(size_t count, uint32_t& value) {
    if (size_ < count) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) value |= static_cast<uint32_t>(data_[i]) << (8 * i);
    data_ += count;
    size_ -= count;
    return true;
  }

  const uint8_t* data_;
  size_t size_;
};

[[noreturn]] void Differ(const char* clock, const DecoderLockstep& lockstep) {
  std::fprintf(stderr, "decoder and model differ (%s):\n%s", clock, lockstep.Trace().c_str());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  uint32_t startTick = 0;
  if (!input.U32(startTick)) return 0;

  DecoderLockstep realTime(startTick, RepeatClock::kRealTime);
  DecoderLockstep tickSum(startTick, RepeatClock::kTickSum);
  bool tickSumValid = startTick <= kLastSafeTick;

  uint32_t byte = 0;
  uint32_t elapsedMs = 0;
  uint32_t sink = 0;
  while (input.Byte(byte) && input.U16(elapsedMs)) {
    if (elapsedMs == kLongElapsed && !input.U32(elapsedMs)) break;
    if (!input.Byte(sink)) break;

    if (!realTime.Poll(byte, elapsedMs, sink)) Differ("real elapsed time", realTime);
    tickSumValid = tickSumValid && tickSum.nowMs() + elapsedMs + sink <= kLastSafeTick;
    if (tickSumValid && !tickSum.Poll(byte, elapsedMs, sink)) Differ("tick sum away from the wrap", tickSum);
  }
  return 0;
}
