#include <benchmark/benchmark.h>

#include <stdint.h>

#include "bench/decoder_micro.h"
#include "kolvane/keys.h"
#include "receiver/key_decoder.h"

namespace kolvane {
namespace bench {
namespace {

// The press bytes of the keys, in the table's order.
#define KOLVANE_KEY_BYTE(name, label, byte) byte,
constexpr uint8_t kKeyBytes[] = {KOLVANE_KEYS(KOLVANE_KEY_BYTE)};
#undef KOLVANE_KEY_BYTE

// One poll as the loop makes it, on a clock that stands still within the
// poll and with a handler that does nothing: the decoder's own cost.
inline void Poll(KeyDecoder& decoder, uint32_t byte, uint32_t tick) {
  benchmark::DoNotOptimize(decoder.Poll(
      byte, [tick] { return tick; }, [](const KeyDecoder::PollResult&, uint32_t) {}));
}

// The common case: nothing pressed, the byte idles.
void IdleByte(benchmark::State& state) {
  KeyDecoder decoder(0);
  uint32_t tick = 0;
  for (auto _ : state) {
    tick += kPollPeriodMs;
    Poll(decoder, kIdleReceiverByte, tick);
  }
}

// Presses, holds with repeats, releases: every branch of a poll.
void PressHoldRelease(benchmark::State& state) {
  // Two keys, each pressed for two polls and held for twelve, with idle
  // between: the table's first two keys.
  constexpr uint8_t kIdle = kIdleReceiverByte;
  constexpr uint8_t kA = kKeyBytes[0];
  constexpr uint8_t kAHeld = HeldByteOf(kA);
  constexpr uint8_t kB = kKeyBytes[1];
  constexpr uint8_t kBHeld = HeldByteOf(kB);
  static constexpr uint8_t kBytes[32] = {kIdle,  kIdle,  kA,     kA,     kAHeld, kAHeld, kAHeld, kAHeld,
                                         kAHeld, kAHeld, kAHeld, kAHeld, kAHeld, kAHeld, kAHeld, kAHeld,
                                         kIdle,  kIdle,  kB,     kB,     kBHeld, kBHeld, kBHeld, kBHeld,
                                         kBHeld, kBHeld, kBHeld, kBHeld, kBHeld, kBHeld, kBHeld, kIdle};
  KeyDecoder decoder(0);
  uint32_t tick = 0;
  uint32_t index = 0;
  for (auto _ : state) {
    tick += kPollPeriodMs;
    Poll(decoder, kBytes[index++ & 31u], tick);
  }
}

// Keeps the results instead of printing them.
class Collector final : public benchmark::BenchmarkReporter {
 public:
  explicit Collector(std::vector<MicroResult>* results) : results_(results) {}
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // The name without the "/min_time:..." suffix the library appends.
      const std::string name = run.benchmark_name();
      results_->push_back(MicroResult{name.substr(0, name.rfind("/min_time")), run.GetAdjustedRealTime()});
    }
  }

 private:
  std::vector<MicroResult>* results_;
};

}  // namespace

bool DecoderMicroAvailable() { return true; }

std::vector<MicroResult> RunDecoderMicro(bool quick) {
  const double minTime = quick ? 0.05 : 0.5;
  benchmark::RegisterBenchmark("idle byte", IdleByte)->Unit(benchmark::kNanosecond)->MinTime(minTime);
  benchmark::RegisterBenchmark("press, hold, release", PressHoldRelease)
      ->Unit(benchmark::kNanosecond)
      ->MinTime(minTime);
  std::vector<MicroResult> results;
  Collector collector(&results);
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::ClearRegisteredBenchmarks();
  return results;
}

}  // namespace bench
}  // namespace kolvane
