// The tuner card's remote receiver, by its numbers: the registers the module
// sets up and polls, the bits it sets, where the receiver byte lies and what
// its bits mean, and the timing of polls and repeats. The module, the
// simulator, the benchmarks, the tests and the fuzzer take them from here;
// what a host's card shares with the module comes from the public
// kolvane/device.h, the one definition.
#ifndef KOLVANE_RECEIVER_DEVICE_H
#define KOLVANE_RECEIVER_DEVICE_H

#include <stdint.h>

#include "kolvane/device.h"

namespace kolvane {

// Device registers by offset, and the bits the set-up sets in each.
constexpr uint32_t kRegisterControl = KOLVANE_REGISTER_CONTROL;
constexpr uint32_t kControlSetupMask = KOLVANE_CONTROL_SETUP_BITS;
constexpr uint32_t kRegisterGpio = KOLVANE_REGISTER_GPIO;
constexpr uint32_t kGpioSetupMask = KOLVANE_GPIO_SETUP_BITS;
constexpr uint32_t kRegisterReceiver = KOLVANE_REGISTER_RECEIVER;
constexpr uint32_t kReceiverSetupMask = KOLVANE_RECEIVER_SETUP_BITS;

// The receiver byte is bits 16-23 of the receiver register.
constexpr uint32_t kReceiverByteShift = KOLVANE_RECEIVER_BYTE_SHIFT;
constexpr uint32_t kReceiverByteMask = KOLVANE_RECEIVER_BYTE_MASK;
constexpr uint32_t kHeldBit = KOLVANE_RECEIVER_HELD_BIT;      // the held bit, bit 0: key held
constexpr uint8_t kIdleReceiverByte = KOLVANE_RECEIVER_IDLE;  // no key: held bit set, no code

// Whether a receiver byte has its held bit set (a key held down), and the
// byte that shows `code` held: the one place outside the public header that
// reads or sets the held bit.
constexpr bool IsHeldByte(uint32_t byte) { return (byte & kHeldBit) != 0; }
constexpr uint8_t HeldByteOf(uint32_t code) { return static_cast<uint8_t>((code | kHeldBit) & kReceiverByteMask); }
// The held bit's place in the byte (0 for bit 0), for texts that name it.
constexpr int BitIndexOf(uint32_t bit) { return bit <= 1 ? 0 : 1 + BitIndexOf(bit >> 1); }
constexpr int kHeldBitIndex = BitIndexOf(kHeldBit);

constexpr uint32_t kPollPeriodMs = KOLVANE_POLL_PERIOD_MS;
constexpr uint32_t kRepeatDelayMs = KOLVANE_REPEAT_DELAY_MS;  // a held key repeats once more than this has passed

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_DEVICE_H
