// The tuner card's remote receiver, by its numbers: the registers the module
// sets up and polls, the bits it sets, where the receiver byte lies and what
// its bits mean, and the timing of polls and repeats. The one definition for
// the module, the simulator, the benchmarks, the tests and the fuzzer.
#ifndef KOLVANE_RECEIVER_DEVICE_H
#define KOLVANE_RECEIVER_DEVICE_H

#include <stdint.h>

namespace kolvane {

// Device registers by offset, and the bits the set-up sets in each.
constexpr uint32_t kRegisterControl = 0x10C;
constexpr uint32_t kControlSetupMask = 0x00000004;
constexpr uint32_t kRegisterGpio = 0x118;
constexpr uint32_t kGpioSetupMask = 0x00007000;
constexpr uint32_t kRegisterReceiver = 0x200;
constexpr uint32_t kReceiverSetupMask = 0x00007FC2;

// The receiver byte is bits 16-23 of the receiver register.
constexpr uint32_t kReceiverByteShift = 16;
constexpr uint32_t kReceiverByteMask = 0xFF;
constexpr uint32_t kHeldBit = 0x01;          // byte bit 0: key held (repeat state)
constexpr uint8_t kIdleReceiverByte = 0xFF;  // no key: held bit set, no code

constexpr uint32_t kPollPeriodMs = 20;
constexpr uint32_t kRepeatDelayMs = 200;  // a held key repeats once more than this has passed

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_DEVICE_H
