// The decoder against a plain model of the decoding rules over many random
// runs: bytes drawn mostly from the values that matter (0xFF, key codes and
// their held and bit-2 forms), poll intervals from regular 20 ms polls to late
// polls, coarse ticks and jumps of weeks, start ticks on both sides of the
// 2^32 wrap.
//
// KOLVANE_DIFF_RUNS sets the number of runs and KOLVANE_DIFF_SEED the seed;
// sanitizer builds do a tenth of the runs by default.
#include <stdint.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/decoder_lockstep.h"

namespace kolvane {
namespace {

using model::Coverage;
using model::DecoderLockstep;
using model::RepeatClock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t kDefaultRuns = 60000;
#else
constexpr uint64_t kDefaultRuns = 600000;
#endif
constexpr uint64_t kDefaultSeed = 0x6B6F6C76616E65ull;
constexpr uint32_t kMaxPollsPerRun = 48;
constexpr uint64_t kTickPeriod = 0x100000000ull;

uint64_t EnvOr(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtoull(text, nullptr, 0);
}

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }

 private:
  uint64_t state_;
};

uint32_t ReceiverByte(Random& random) {
  static constexpr uint32_t kCodes[] = {0x68, 0xD8, 0x00, 0x48, 0xD0, 0xF8};
  const uint32_t pick = random.Below(16);
  if (pick < 4) return 0xFF;
  const uint32_t code = kCodes[random.Below(sizeof kCodes / sizeof kCodes[0])];
  if (pick < 10) return code | (random.Below(4) == 0 ? 0x4u : 0x0u) | random.Below(2);  // code, |1, |4, |5
  if (pick < 12) return code | 0x2u | random.Below(2);                                  // bit 1: no key
  return random.Below(256);
}

// Milliseconds from the previous clock read to the next poll's tick.
uint32_t PollStep(Random& random, bool allowJumps) {
  const uint32_t pick = random.Below(32);
  if (pick < 18) return random.Between(15, 25);    // a 20 ms poll with jitter
  if (pick < 21) return 16;                        // coarse system tick
  if (pick < 22) return 0;                         // two polls read the same tick
  if (pick < 25) return random.Between(195, 205);  // around the repeat delay
  if (pick < 28) return random.Between(1, 400);
  if (pick < 30 || !allowJumps) return random.Between(300, 1000);  // a late poll
  if (pick < 31) return static_cast<uint32_t>(random.Next());      // days or weeks
  return 0xFFFFFFFFu - random.Below(500);                          // almost a whole tick period
}

// A step that lands 199, 200, 201 or 202 ms after the repeat timer's mark.
uint32_t StepToRepeatEdge(Random& random, const DecoderLockstep& lockstep) {
  const uint64_t target = lockstep.markMs() + random.Between(199, 202);
  return target > lockstep.nowMs() ? static_cast<uint32_t>(target - lockstep.nowMs()) : 0;
}

// Milliseconds from a poll's tick to the tick read after its report.
uint32_t SinkTime(Random& random) {
  const uint32_t pick = random.Below(8);
  if (pick < 5) return 0;
  if (pick < 7) return random.Between(1, 10);
  return random.Between(11, 400);  // a slow sink
}

// Runs random polls through both until they part; returns the trace then.
std::string RunOnce(Random& random, uint32_t startTick, RepeatClock clock, bool allowJumps, uint64_t tickLimit,
                    Coverage& coverage) {
  DecoderLockstep lockstep(startTick, clock);
  const uint32_t polls = random.Between(1, kMaxPollsPerRun);
  uint32_t byte = ReceiverByte(random);
  for (uint32_t i = 0; i < polls; ++i) {
    if (random.Below(2) == 0) byte = ReceiverByte(random);  // else the key stays as it was
    uint32_t step = PollStep(random, allowJumps);
    if (random.Below(8) == 0) step = StepToRepeatEdge(random, lockstep);
    const uint32_t sink = SinkTime(random);
    if (lockstep.nowMs() + step + sink > tickLimit) break;
    if (!lockstep.Poll(byte, step, sink)) return lockstep.Trace();
  }
  coverage.Add(lockstep.coverage());
  return std::string();
}

void Print(const Coverage& c) {
  std::printf(
      "polls reporting a press %llu, a repeat %llu; held at 200 ms %llu, at 201 ms %llu, across the wrap %llu\n",
      static_cast<unsigned long long>(c.presses), static_cast<unsigned long long>(c.repeats),
      static_cast<unsigned long long>(c.heldAt200), static_cast<unsigned long long>(c.heldAt201),
      static_cast<unsigned long long>(c.heldAcrossWrap));
}

uint32_t StartTickAnywhere(Random& random) {
  switch (random.Below(4)) {
    case 0: return static_cast<uint32_t>(0xFFFFFFFFu - random.Below(3000));  // just before the wrap
    case 1: return random.Below(3000);                                       // just after it
    default: return static_cast<uint32_t>(random.Next());
  }
}

TEST(KeyDecoderAgainstModel, AgreesOnRealElapsedTimeEverywhereIncludingAcrossTheWrap) {
  const uint64_t runs = EnvOr("KOLVANE_DIFF_RUNS", kDefaultRuns);
  const uint64_t seed = EnvOr("KOLVANE_DIFF_SEED", kDefaultSeed);
  Random random(seed);
  Coverage coverage;
  for (uint64_t run = 0; run < runs; ++run) {
    const uint32_t startTick = StartTickAnywhere(random);
    const std::string trace = RunOnce(random, startTick, RepeatClock::kRealTime, true, UINT64_MAX, coverage);
    ASSERT_TRUE(trace.empty()) << "seed " << seed << ", run " << run << ":\n" << trace;
  }
  Print(coverage);
  // The runs must have reached the cases that tell a right decoder from a wrong one.
  const uint64_t enough = runs / 100 + 1;
  EXPECT_GE(coverage.presses, enough);
  EXPECT_GE(coverage.repeats, enough);
  EXPECT_GE(coverage.heldAt200, enough);
  EXPECT_GE(coverage.heldAt201, enough);
  EXPECT_GE(coverage.heldAcrossWrap, enough);
}

// Wherever mark + 200 does not pass 2^32, the elapsed-time test and the
// literal sum `tick > markTick + 200` are the same rule.
TEST(KeyDecoderAgainstModel, AgreesWithTheTickSumFormAwayFromTheWrap) {
  const uint64_t runs = EnvOr("KOLVANE_DIFF_RUNS", kDefaultRuns);
  const uint64_t seed = EnvOr("KOLVANE_DIFF_SEED", kDefaultSeed) + 1;
  const uint64_t lastSafeTick = kTickPeriod - 1 - 200;
  Random random(seed);
  Coverage coverage;
  for (uint64_t run = 0; run < runs; ++run) {
    // Half the runs end close to the last safe tick, to test right up to it.
    const uint32_t startTick = random.Below(2) == 0 ? static_cast<uint32_t>(lastSafeTick - random.Below(20000))
                                                    : static_cast<uint32_t>(random.Next() % (lastSafeTick - 100000));
    const std::string trace = RunOnce(random, startTick, RepeatClock::kTickSum, false, lastSafeTick, coverage);
    ASSERT_TRUE(trace.empty()) << "seed " << seed << ", run " << run << ":\n" << trace;
  }
  Print(coverage);
  const uint64_t enough = runs / 100 + 1;
  EXPECT_GE(coverage.repeats, enough);
  EXPECT_GE(coverage.heldAt200, enough);
  EXPECT_GE(coverage.heldAt201, enough);
  EXPECT_EQ(coverage.heldAcrossWrap, 0u);
}

}  // namespace
}  // namespace kolvane
