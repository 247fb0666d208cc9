// The fast replay's choice of the stretches it cuts short, against the
// decoder's model: a fast replay must make exactly the reports of a replay
// at full length, and the rule for a held byte's timer must be needed.
#include "host/replay/fast_replay.h"

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "diagnosis/compare.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "receiver/device.h"
#include "tests/host/model_replay.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

using test::ModelReplay;
using test::ModelReport;
using ::testing::ElementsAre;

const char kHeader[] = "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n";

ReceiverSchedule Scheduled(const std::string& text, Script* script = nullptr) {
  Script parsed;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "test", &parsed, &errors)) << ::testing::PrintToString(errors);
  if (script != nullptr) *script = parsed;
  return BuildReceiverSchedule(parsed);
}

// Which changes a fast replay cuts short, with no report recorded anywhere.
std::vector<bool> Quick(const std::string& text) {
  ReceiverSchedule schedule = Scheduled(text);
  MarkQuietChanges(&schedule, std::vector<bool>(schedule.changes.size(), false));
  std::vector<bool> quick;
  for (const ReceiverChange& change : schedule.changes) quick.push_back(change.quick);
  return quick;
}

TEST(FastReplay, AnIdleSpellAndAPressAreCutShort) {
  // wait: idle; press: the code, then idle
  EXPECT_THAT(Quick("wait 10s\npress ChannelUp\n"), ElementsAre(true, true, true));
  EXPECT_THAT(Quick("raw 0xD0 3600s\nraw 0xD1 3600s\nraw 0xFF 1s\n"), ElementsAre(true, true, true))
      << "codes of no key, pressed or held, report nothing";
}

TEST(FastReplay, AHeldKeyKeepsItsLengthForItsRepeats) {
  // hold: the code, the held state, idle
  EXPECT_THAT(Quick("hold VolumeUp 2s\n"), ElementsAre(true, false, true));
}

TEST(FastReplay, AHeldStretchBeforeAHeldKeyKeepsItsLengthForTheTimerItLeaves) {
  // No byte with bit 0 clear between: the idle spell's last silent repeat
  // restarted the timer that the held key's first repeat counts from.
  EXPECT_THAT(Quick("wait 10s\nraw 0xD9 150ms\nwait 1s\n"), ElementsAre(false, false, true));
  EXPECT_THAT(Quick("wait 10s\nraw 0xD1 3s\nraw 0xD9 150ms\n"), ElementsAre(false, false, false));
  // A byte with bit 0 clear restarts the timer at every poll: what came
  // before it no longer counts.
  EXPECT_THAT(Quick("wait 10s\nraw 0xD0 1s\nraw 0xD9 150ms\n"), ElementsAre(true, true, false));
}

TEST(FastReplay, AStretchDuringWhichTheTraceRecordedAReportKeepsItsLength) {
  Script script;
  const std::string text = std::string(kHeader) +
                           "raw 0xFF 5000ms\n"
                           "# 5.020s Kolvane_ChannelUp fresh\n"
                           "raw 0xD8 100ms\n"
                           "raw 0xFF 600000ms\n";
  ReceiverSchedule schedule = Scheduled(text, &script);
  MarkQuietChanges(&schedule, ChangesWithReports(schedule, script, ReadTrace(text).runs.front()));
  ASSERT_EQ(schedule.changes.size(), 3u);
  EXPECT_TRUE(schedule.changes[0].quick);
  EXPECT_FALSE(schedule.changes[1].quick);
  EXPECT_TRUE(schedule.changes[2].quick);
}

TEST(FastReplay, ReportTimesAreGivenOnTheTracesClock) {
  ReceiverSchedule schedule = Scheduled("wait 10s\nraw 0xD8 100ms\nraw 0xFF 60s\nraw 0x58 100ms\n");
  MarkQuietChanges(&schedule, std::vector<bool>(schedule.changes.size(), false));
  schedule.changes[1].quick = false;
  schedule.changes[3].quick = false;
  // Shown at 20 ms, 40 ms (after one poll), 140 ms, 160 ms of the replay.
  const std::vector<int64_t> shown{20000, 40000, 140000, 160000};
  EXPECT_EQ(TraceTimeUs(schedule, shown, 10000), 10000) << "before the script: as is";
  EXPECT_EQ(TraceTimeUs(schedule, shown, 30000), 30000);
  EXPECT_EQ(TraceTimeUs(schedule, shown, 42000), 10022000);
  EXPECT_EQ(TraceTimeUs(schedule, shown, 150000), 10130000);
  EXPECT_EQ(TraceTimeUs(schedule, shown, 161000), 70121000) << "a quick change counts whole";
}

// The way back, for what a trace recorded and a replay cannot make again
// (a late poll): the trace's times of the test above as the replay's.
TEST(FastReplay, TraceTimesAreGivenOnTheReplaysClock) {
  ReceiverSchedule schedule = Scheduled("wait 10s\nraw 0xD8 100ms\nraw 0xFF 60s\nraw 0x58 100ms\n");
  MarkQuietChanges(&schedule, std::vector<bool>(schedule.changes.size(), false));
  schedule.changes[1].quick = false;
  schedule.changes[3].quick = false;
  const std::vector<int64_t> shown{20000, 40000, 140000, 160000};
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 10000), 10000) << "before the script: as is";
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 30000), 30000);
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 10022000), 42000);
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 10130000), 150000);
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 70121000), 161000);
  EXPECT_EQ(ReplayTimeUs(schedule, shown, 40000000), 160000) << "inside a cut: where the replay cut it";
  for (const int64_t replayUs : {int64_t{25000}, int64_t{45000}, int64_t{139000}, int64_t{170000}}) {
    EXPECT_EQ(ReplayTimeUs(schedule, shown, TraceTimeUs(schedule, shown, replayUs)), replayUs);
  }
}

// Random receiver bytes of every kind, each lasting whole poll periods.
std::string RandomScript(std::mt19937& random) {
  static const uint8_t kBytes[] = {
      0xFF, 0xFF, 0xFF,  // idle
      0xD8, 0x58, 0x00,  // keys pressed (0x00 is Left)
      0xD9, 0x59, 0x01,  // the same held
      0xD0, 0xD1, 0x5A,  // codes of no key, pressed and held
      0xDC, 0xDD,        // bit 2 set: ChannelUp all the same
  };
  std::uniform_int_distribution<size_t> pick(0, sizeof kBytes - 1);
  std::uniform_int_distribution<int> periods(1, 40);
  std::uniform_int_distribution<int> kind(0, 9);
  std::string text;
  const int steps = std::uniform_int_distribution<int>(1, 30)(random);
  for (int i = 0; i < steps; ++i) {
    const int length = kind(random) == 0 ? 1000 + periods(random) : periods(random);  // now and then a long one
    char line[64];
    snprintf(line, sizeof line, "raw 0x%02X %dms\n", kBytes[pick(random)], length * static_cast<int>(kPollPeriodMs));
    text += line;
  }
  return text;
}

// Per change: did the full replay report during it.
std::vector<bool> WithReports(const std::vector<ModelReport>& reports, size_t changes) {
  std::vector<bool> with(changes, false);
  for (const ModelReport& report : reports) with[report.change] = true;
  return with;
}

std::vector<std::string> Made(const std::vector<ModelReport>& reports) {
  std::vector<std::string> made;
  made.reserve(reports.size());
  for (const ModelReport& report : reports) made.push_back(report.name + (report.repeat ? " repeat" : " fresh"));
  return made;
}

TEST(FastReplay, MakesExactlyTheReportsOfTheFullReplayOnTheDecodersModel) {
  std::mt19937 random(18);
  int quickChanges = 0, repeats = 0, naiveDiffers = 0;
  for (int run = 0; run < 3000; ++run) {
    const std::string text = (run % 2 == 0 ? std::string(kHeader) : std::string()) + RandomScript(random);
    const ReceiverSchedule full = Scheduled(text);
    const std::vector<ModelReport> reference = ModelReplay(full);
    for (const ModelReport& report : reference) repeats += report.repeat ? 1 : 0;

    // With the reports the trace would hold, and with none at all: the rule
    // alone must be enough.
    for (const bool trusted : {true, false}) {
      ReceiverSchedule fast = full;
      MarkQuietChanges(
          &fast, trusted ? WithReports(reference, full.changes.size()) : std::vector<bool>(full.changes.size(), false));
      for (const ReceiverChange& change : fast.changes) quickChanges += change.quick ? 1 : 0;
      ASSERT_EQ(Made(ModelReplay(fast)), Made(reference)) << text;
    }

    // Cutting short every stretch without a report, timer or not, does not
    // always give the same reports.
    ReceiverSchedule naive = full;
    const std::vector<bool> with = WithReports(reference, full.changes.size());
    for (size_t i = 0; i < naive.changes.size(); ++i) naive.changes[i].quick = !with[i];
    if (Made(ModelReplay(naive)) != Made(reference)) ++naiveDiffers;
  }
  EXPECT_GT(quickChanges, 10000);
  EXPECT_GT(repeats, 1000);
  EXPECT_GT(naiveDiffers, 0) << "the timer's rule was never needed: the runs miss the case it is for";
}

}  // namespace
}  // namespace host
}  // namespace kolvane
