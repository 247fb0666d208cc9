// A made-up run against the same run polled one poll at a time through the
// decoder and the recorder: the skips of a long spell leave the trace just
// as every poll would, reports and their times included; and the literal
// lines of a press and a hold.
#include "bench/made_up_run.h"

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"
#include "trace/format.h"
#include "trace/recorder.h"
#include "trace/string_output.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kPollMs = 20;  // the poll period, stated here on purpose
constexpr uint32_t kIdle = 0xFF;

// The receiver's bytes, each for a time in ms.
using Spells = std::vector<std::pair<uint32_t, uint64_t>>;

std::string MadeUp(const Spells& spells, uint32_t start) {
  std::string text;
  StringTraceOutput output(&text);
  TraceRecorder recorder(&output, kTraceSizeCap);
  MadeUpRun run(&recorder, start, "2026-01-01 00:00:00", "1.2.3", "test");
  for (const auto& spell : spells) run.Show(spell.first, spell.second);
  run.End();
  return text;
}

// Every poll made, as the module's loop makes them.
std::string EveryPoll(const Spells& spells, uint32_t start) {
  std::string text;
  StringTraceOutput output(&text);
  TraceRecorder recorder(&output, kTraceSizeCap);
  recorder.Begin(start, "2026-01-01 00:00:00", "1.2.3", "test", false);
  KeyDecoder decoder(start);
  uint64_t shown = 0;
  uint64_t at = 0;
  for (const auto& spell : spells) {
    shown += spell.second;
    for (; at + kPollMs <= shown; at += kPollMs) {
      const uint32_t tick = start + static_cast<uint32_t>(at + kPollMs);
      const uint32_t byte = spell.first;
      decoder.Poll(
          byte, [tick] { return tick; },
          [&](const KeyDecoder::PollResult& polled, uint32_t now) {
            const RemoteKey* key =
                polled.report ? FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, polled.code) : nullptr;
            recorder.OnPoll(byte, now);
            if (key != nullptr) recorder.OnReport(key->name, (byte & 0x01) != 0, now);
          });
    }
  }
  recorder.End(start + static_cast<uint32_t>(at + kPollMs), false);
  return text;
}

TEST(MadeUpRun, LongSpellsSkippedAsIfEveryPollWereMade) {
  // Idle for hours at an odd length, so the idle byte's repeat cycle ends
  // off the grid of whole seconds; then a key held without a press, whose
  // first repeat depends on that cycle's phase; a press held for hours;
  // presses and holds of two keys; across the tick counter's wrap.
  const Spells spells = {{kIdle, 3 * 3600000 + 7 * kPollMs},
                         {0xA9, 500},
                         {0xFF, 300},
                         {0x68, 100},
                         {0x69, 1000},
                         {kIdle, 2000},
                         {0xA8, 7200000},
                         {0xA9, 700},
                         {kIdle, 10000}};
  for (const uint32_t start : {0u, 0xFFFFFFFFu - 5000000u}) {
    const std::string made = MadeUp(spells, start);
    EXPECT_EQ(made, EveryPoll(spells, start)) << made;
  }
}

TEST(MadeUpRun, PressAndHoldAsTheModuleRecordsThem) {
  const std::string text = MadeUp({{kIdle, 1000}, {0x68, 100}, {0x69, 500}, {kIdle, 100}}, 0);
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  EXPECT_THAT(lines, ElementsAre("# kolvane 1.2.3 trace, test, started 2026-01-01 00:00:00",
                                 "# a kolvane-host script: replay it with 'kolvane-host FILE', check it with "
                                 "'kolvane-host --compare FILE', explain it with 'kolvane-host --explain FILE'",
                                 "raw 0xFF 1000ms", "# 1.020s Kolvane_TV fresh", "raw 0x68 100ms",
                                 // The mark is the press's last poll, 1.100 s: repeats 220 ms on.
                                 "# 1.320s Kolvane_TV repeat", "# 1.540s Kolvane_TV repeat", "raw 0x69 500ms",
                                 "raw 0xFF 100ms", "# end of run, 1.720s after it began"));
}

}  // namespace
}  // namespace kolvane
