// What --compare takes from a trace besides its script: which reports it can
// check, whether the size cap cut it, and whether it is a trace at all. A
// trace cut at any point compares with what its own byte lines make.
#include "trace/reader.h"

#include <string>
#include <vector>

#include "diagnosis/compare.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "tests/host/model_replay.h"
#include "trace/format.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ReadTrace, ReportsWhoseByteTheTraceDoesNotHoldAreLeftOut) {
  const TraceReading reading = ReadTrace(
      "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n"
      "raw 0xFF 500ms\n"
      "# 0.520s Kolvane_ChannelUp fresh\n"
      "raw 0xD8 100ms\n"
      "# 0.620s Kolvane_Mute fresh\n"
      "# trace stopped: the file reached its size cap of 8 MiB\n");
  EXPECT_TRUE(reading.isTrace);
  ASSERT_EQ(reading.runs.size(), 1u);
  const TraceRun& run = reading.runs[0];
  EXPECT_TRUE(run.cut);
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].name, "Kolvane_ChannelUp");
  EXPECT_EQ(run.reportsAfterLastByteLine, 1u);
  EXPECT_EQ(run.lastByteLine, 4);
  EXPECT_THAT(run.byteLinesWithReports, ElementsAre(4));
}

TEST(ReadTrace, AScriptIsNoTraceAndATraceThatEndsIsNotCut) {
  const TraceReading script = ReadTrace("# kolvane demo, trace of nothing\nraw 0xD8 100ms\n");
  EXPECT_FALSE(script.isTrace);
  const TraceReading whole = ReadTrace(
      "\xEF\xBB\xBF# kolvane 1.0.0 trace, windows x86, started 2026-12-09 02:36:19\r\n"
      "raw 0xFF 20ms\r\n"
      "# end of run, 0.040s after it began\r\n");
  EXPECT_TRUE(whole.isTrace) << "a byte-order mark and CRLF line ends as an editor leaves them";
  ASSERT_EQ(whole.runs.size(), 1u);
  EXPECT_FALSE(whole.runs[0].cut);
  EXPECT_EQ(whole.runs[0].reportsAfterLastByteLine, 0u);
}

TEST(ReadTrace, ARunGoesFromItsHeaderToTheNextRunsHeader) {
  // Three Starts of the module: the second run was cut by the size cap (a
  // file from before a capped file refused more runs), the third ended at once.
  const TraceReading reading = ReadTrace(
      "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n"
      "raw 0xFF 500ms\n"
      "# 0.520s Kolvane_ChannelUp fresh\n"
      "raw 0xD8 100ms\n"
      "# end of run, 0.640s after it began\n"
      "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:40:00\n"
      "raw 0xFF 300ms\n"
      "# 0.320s Kolvane_Mute fresh\n"
      "raw 0x98 100ms\n"
      "# 0.420s Kolvane_TV fresh\n"
      "# trace stopped: the file reached its size cap of 8 MiB\n"
      "\n"
      "# kolvane 1.0.1 trace, windows x64, started 2026-12-10 20:00:00\r\n"
      "# end of run, 0.001s after it began\n");
  EXPECT_TRUE(reading.isTrace);
  ASSERT_EQ(reading.runs.size(), 3u);
  const TraceRun& first = reading.runs[0];
  const TraceRun& second = reading.runs[1];
  const TraceRun& third = reading.runs[2];
  EXPECT_EQ(first.headerLine, 1);
  EXPECT_EQ(second.headerLine, 6);
  EXPECT_EQ(third.headerLine, 13);
  EXPECT_EQ(third.header, "# kolvane 1.0.1 trace, windows x64, started 2026-12-10 20:00:00");
  ASSERT_EQ(first.reports.size(), 1u);
  EXPECT_EQ(first.reports[0].name, "Kolvane_ChannelUp");
  EXPECT_FALSE(first.cut);
  ASSERT_EQ(second.reports.size(), 1u);
  EXPECT_EQ(second.reports[0].ms, 320) << "times count from the run's own start";
  EXPECT_THAT(second.byteLinesWithReports, ElementsAre(9)) << "the file's line numbers";
  EXPECT_EQ(second.lastByteLine, 9);
  EXPECT_TRUE(second.cut);
  EXPECT_EQ(second.reportsAfterLastByteLine, 1u) << "the TV press was made after the run's last whole byte line";
  EXPECT_THAT(third.reports, IsEmpty());
  EXPECT_FALSE(third.cut);
  EXPECT_EQ(third.lastByteLine, 0);
}

TEST(ReadTrace, AScriptThatIsNoTraceIsOneRunWhateverItHolds) {
  const TraceReading reading = ReadTrace(
      "press ChannelUp\n"
      "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n"
      "raw 0xD8 100ms\n");
  EXPECT_FALSE(reading.isTrace);
  ASSERT_EQ(reading.runs.size(), 1u);
  EXPECT_EQ(reading.runs[0].headerLine, 0);
  EXPECT_EQ(ReadTrace("").runs.size(), 1u);
}

TEST(ReadTrace, KnowsTheRecordersHeaderAndCapNote) {
  // A run longer than the room: the recorder's own lines, not copies.
  const std::vector<uint8_t> bytes{0xFF, 0xD8, 0xFF};
  const std::vector<int> polls{5, 5, 5};
  const std::string whole = test::RecordRun(bytes, polls, kTraceSizeCap);
  const std::string cut = test::RecordRun(bytes, polls, whole.size() - 1);
  EXPECT_TRUE(ReadTrace(whole).isTrace);
  EXPECT_FALSE(ReadTrace(whole).runs.front().cut);
  EXPECT_TRUE(ReadTrace(cut).isTrace);
  EXPECT_TRUE(ReadTrace(cut).runs.front().cut) << cut;
}

// Presses, holds and idle spells the way a module's run records them.
void BusyRun(std::vector<uint8_t>* bytes, std::vector<int>* polls) {
  const struct {
    uint8_t byte;
    int polls;
  } run[] = {{0xFF, 10}, {0xD8, 5},  {0xFF, 5}, {0x58, 5}, {0x59, 40}, {0xFF, 5},  {0x08, 5}, {0xFF, 5},
             {0x00, 3},  {0x01, 30}, {0xFF, 5}, {0xD8, 5}, {0xD9, 25}, {0xFF, 30}, {0x48, 5}, {0xFF, 5}};
  for (const auto& step : run) {
    bytes->push_back(step.byte);
    polls->push_back(step.polls);
  }
}

TEST(ReadTrace, ATraceCutAnywhereComparesWithWhatItsOwnByteLinesMake) {
  std::vector<uint8_t> bytes;
  std::vector<int> polls;
  BusyRun(&bytes, &polls);
  const std::string whole = test::RecordRun(bytes, polls, kTraceSizeCap);
  int cutBeforeAByteLine = 0;
  for (uint64_t capacity = 200; capacity < whole.size(); ++capacity) {
    const std::string trace = test::RecordRun(bytes, polls, capacity);
    const TraceRun reading = ReadTrace(trace).runs.front();
    ASSERT_TRUE(reading.cut) << trace;
    Script script;
    std::vector<std::string> errors;
    ASSERT_TRUE(ParseScript(trace, "cut.trace", &script, &errors)) << ::testing::PrintToString(errors);
    const std::vector<test::ModelReport> replayed = test::ModelReplay(BuildReceiverSchedule(script));
    EXPECT_THAT(FirstDifference(reading.reports, test::AsTraced(replayed)), IsEmpty())
        << "cut at " << capacity << " bytes:\n"
        << trace;
    if (reading.reportsAfterLastByteLine > 0) ++cutBeforeAByteLine;
  }
  EXPECT_GT(cutBeforeAByteLine, 10) << "no cut fell between a report and its byte";
}

}  // namespace
}  // namespace host
}  // namespace kolvane
