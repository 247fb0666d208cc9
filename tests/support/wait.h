// Real-time waits with generous bounds: a busy 2-core machine (or Wine) may
// be slow, so a test waits for what it expects rather than for a time.
#ifndef KOLVANE_TESTS_SUPPORT_WAIT_H
#define KOLVANE_TESTS_SUPPORT_WAIT_H

#include <chrono>
#include <thread>

namespace kolvane {
namespace test {

constexpr std::chrono::milliseconds kPatience{10000};

// Polls `done` every millisecond until it holds or `limit` passes.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_WAIT_H
