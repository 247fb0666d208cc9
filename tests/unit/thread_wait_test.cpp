// The bounded wait for a thread (Stop's 5 s) on a clock that setting the date
// does not move. A stand-in for the wait sees its deadline: one taken from
// the wall clock would lie decades away from the monotonic clock's reading.
#include <time.h>

#include <atomic>

#include "gtest/gtest.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace kolvane {
namespace {

constexpr int64_t kNanosPerMilli = 1000000;
constexpr size_t kStackSize = 65536;

uint32_t KOLVANE_THREAD_CALL RunUntilReleased(void* released) {
  while (!static_cast<std::atomic<bool>*>(released)->load()) platform::SleepMs(1);
  return 0;
}

#ifndef _WIN32

struct SeenWait {
  std::atomic<int> calls{0};
  std::atomic<int> clock{-1};
  std::atomic<int64_t> deadlineNs{0};
};
SeenWait seen;

bool DeadlinePasses(int clock, int64_t deadlineNs) {
  ++seen.calls;
  seen.clock = clock;
  seen.deadlineNs = deadlineNs;
  return false;
}

int64_t MonotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 * kNanosPerMilli + now.tv_nsec;
}

TEST(ThreadWait, TheDeadlineIsTheTimeoutAfterNowOnTheMonotonicClock) {
  std::atomic<bool> released{false};
  platform::Thread* thread = platform::StartThread(&RunUntilReleased, &released, kStackSize);
  ASSERT_NE(thread, nullptr);
  platform::StandInForTimedWait(&DeadlinePasses);
  const int64_t before = MonotonicNs();
  const bool ended = platform::WaitForThread(thread, 5000);
  const int64_t after = MonotonicNs();
  platform::StandInForTimedWait(nullptr);
  released = true;
  EXPECT_TRUE(platform::WaitForThread(thread, 60000));
  platform::CloseThread(thread);

  EXPECT_FALSE(ended);
  EXPECT_EQ(seen.calls.load(), 1);
  EXPECT_EQ(seen.clock.load(), CLOCK_MONOTONIC);
  EXPECT_GE(seen.deadlineNs.load(), before + 5000 * kNanosPerMilli);
  EXPECT_LE(seen.deadlineNs.load(), after + 5000 * kNanosPerMilli);
}

#endif  // _WIN32

TEST(ThreadWait, AThreadThatOutlivesTheWaitIsNotJoinedAndALaterWaitJoinsIt) {
  std::atomic<bool> released{false};
  platform::Thread* thread = platform::StartThread(&RunUntilReleased, &released, kStackSize);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(platform::WaitForThread(thread, 20));
  released = true;
  EXPECT_TRUE(platform::WaitForThread(thread, 60000));
  EXPECT_TRUE(platform::WaitForThread(thread, 0));  // once ended, always ended
  platform::CloseThread(thread);
}

}  // namespace
}  // namespace kolvane
