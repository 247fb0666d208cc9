// A button press on the simulated card, as the module tests make it.
#ifndef KOLVANE_TESTS_SUPPORT_PRESS_H
#define KOLVANE_TESTS_SUPPORT_PRESS_H

#include <stdint.h>

#include <atomic>

#include "gtest/gtest.h"
#include "receiver/device.h"
#include "testbed/sim_card.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {

// Presses `code` once the poll loop has seen the idle byte, and waits until
// the sink has been called `expected` times in all; the key is then let go.
inline void PressAndWait(testbed::SimCard& device, uint8_t code, const std::atomic<int>& calls, int expected) {
  const uint64_t polls = device.receiverPolls();
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 2; }));
  device.Press(code);
  ASSERT_TRUE(WaitUntil([&] { return calls.load() >= expected; }));
  device.ReleaseKey();
}

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_PRESS_H
