#include "bench/measurements.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "bench/bench_platform.h"
#include "platform/platform.h"
#include "receiver/device.h"

namespace kolvane {
namespace bench {
namespace {

constexpr int kPollTimeoutMs = 500;  // generous: a loaded machine may stall a poll
constexpr int kRepeatTimeoutMs = 1000;

void SleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

double ToMs(int64_t ns) { return static_cast<double>(ns) * 1e-6; }

constexpr int64_t kPollPeriodNs = kPollPeriodMs * 1000000LL;
// Past the moment the measuring thread notices a poll (it looks every 1 ms).
constexpr int64_t kPhaseStartNs = 2000000;

// One random moment in each of n equal slices of a poll period, in random
// order: random phases whose spread is even, so the median and the tail
// reflect the module rather than sampling luck.
std::vector<int64_t> StratifiedPhasesNs(int n, std::mt19937& random) {
  std::vector<int64_t> phases;
  phases.reserve(n);
  std::uniform_real_distribution<double> within(0.0, 1.0);
  for (int i = 0; i < n; ++i) {
    phases.push_back(static_cast<int64_t>((i + within(random)) * static_cast<double>(kPollPeriodNs) / n));
  }
  std::shuffle(phases.begin(), phases.end(), random);
  return phases;
}

// Sleeps to the given phase after the latest poll. The window starts a
// little after that poll and spans one period, so taken modulo the period
// it covers every phase alike.
void SleepToPhase(const Harness& harness, int64_t phaseNs) {
  SleepUntilNs(harness.lastPollNs() + kPhaseStartNs + phaseNs);
}

class CpuWindow {
 public:
  explicit CpuWindow(uint64_t wakes) : cpu_(ProcessCpuSeconds()), wallNs_(NowNs()), wakes_(wakes) {}
  CpuFigure End(uint64_t wakes) const {
    CpuFigure figure;
    figure.cpuSeconds = ProcessCpuSeconds() - cpu_;
    figure.wallSeconds = static_cast<double>(NowNs() - wallNs_) * 1e-9;
    figure.wakes = wakes - wakes_;
    return figure;
  }

 private:
  double cpu_;
  int64_t wallNs_;
  uint64_t wakes_;
};

}  // namespace

CpuFigure MeasureBaseline(double seconds) {
  const CpuWindow window(0);
  SleepFor(seconds);
  return window.End(0);
}

CpuFigure MeasureBareSleeper(double seconds) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> wakes{0};
  std::thread sleeper([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      platform::SleepMs(kPollPeriodMs);  // the module's own sleep
      wakes.fetch_add(1, std::memory_order_relaxed);
    }
  });
  SleepFor(0.1);  // past the thread's start-up
  const CpuWindow window(wakes.load());
  SleepFor(seconds);
  const CpuFigure figure = window.End(wakes.load());
  stop = true;
  sleeper.join();
  return figure;
}

bool MeasureIdleModule(Harness& harness, double seconds, CpuFigure* figure) {
  const testbed::SimCard& card = harness.idleCard();
  if (harness.StartIdle() != S_OK) return false;
  // Past the thread's start-up and the register set-up: the card counts the
  // polls of each Start from 0.
  const bool polling = harness.WaitForIdleCardPolls(1, kPollTimeoutMs);
  if (polling) {
    const CpuWindow window(card.receiverPolls());
    SleepFor(seconds);
    *figure = window.End(card.receiverPolls());
  }
  harness.Stop();
  return polling;
}

void MeasurePressLatency(Harness& harness, int presses, std::mt19937& random, std::vector<double>* latencyMs,
                         int* missed) {
  latencyMs->reserve(latencyMs->size() + static_cast<size_t>(presses));
  const std::vector<int64_t> phases = StratifiedPhasesNs(presses, random);
  for (int i = 0; i < presses; ++i) {
    // Idle seen first, so the press is a change to a byte with the held bit clear.
    if (!harness.SetByteAndWaitForPoll(kIdleReceiverByte, kPollTimeoutMs)) {
      ++*missed;
      continue;
    }
    SleepToPhase(harness, phases[static_cast<size_t>(i)]);
    const uint64_t before = harness.keys().count();
    const int64_t pressed = NowNs();
    harness.device().Press(BenchKey());
    if (!harness.WaitForKeys(before + 1, kPollTimeoutMs)) {
      ++*missed;
      continue;
    }
    latencyMs->push_back(ToMs(harness.keys().time(before) - pressed));
  }
  harness.device().ReleaseKey();
}

void HoldKey(Harness& harness, int holdMs, RepeatSamples* samples) {
  if (!harness.SetByteAndWaitForPoll(kIdleReceiverByte, kPollTimeoutMs)) {
    ++samples->failed;
    return;
  }
  const uint64_t press = harness.keys().count();
  harness.device().Press(BenchKey());
  if (!harness.WaitForKeys(press + 1, kPollTimeoutMs)) {
    ++samples->failed;
    harness.device().ReleaseKey();
    return;
  }
  harness.device().Hold(BenchKey());
  std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
  // Wait out a repeat that is due but not yet made, so none is lost.
  const uint64_t firstRepeat = press + 1;
  if (harness.keys().count() <= firstRepeat) harness.WaitForKeys(firstRepeat + 1, kRepeatTimeoutMs);
  const uint64_t end = harness.keys().count();
  const int64_t lastClearPoll = harness.lastClearPollNs();
  harness.device().ReleaseKey();
  if (end <= firstRepeat) {
    ++samples->failed;
    return;
  }
  samples->firstMs.push_back(ToMs(harness.keys().time(firstRepeat) - lastClearPoll));
  for (uint64_t i = firstRepeat + 1; i < end; ++i) {
    samples->gapMs.push_back(ToMs(harness.keys().time(i) - harness.keys().time(i - 1)));
  }
}

void MeasureStops(Harness& harness, int stops, std::mt19937& random, std::vector<double>* stopMs,
                  double* allocationsPerCycle, int* failedStarts) {
  stopMs->reserve(stopMs->size() + static_cast<size_t>(stops));
  harness.device().ReleaseKey();
  const std::vector<int64_t> phases = StratifiedPhasesNs(stops, random);
  const uint64_t allocationsBefore = AllocationCount();
  for (int i = 0; i < stops; ++i) {
    const uint64_t polls = harness.polls();
    if (harness.Start() != S_OK) {
      ++*failedStarts;
      harness.Stop();
      continue;
    }
    harness.WaitForPolls(polls + 1, kPollTimeoutMs);
    SleepToPhase(harness, phases[static_cast<size_t>(i)]);
    const int64_t called = NowNs();
    harness.Stop();
    stopMs->push_back(ToMs(NowNs() - called));
  }
  *allocationsPerCycle =
      stops > 0 ? static_cast<double>(AllocationCount() - allocationsBefore) / static_cast<double>(stops) : 0;
}

}  // namespace bench
}  // namespace kolvane
