// A trace of several runs, one for every Start of the module, replayed run
// by run: each from its own first byte, its reports compared with its own
// comments. Checked on the decoder's model against traces the module's own
// recorder writes.
#include "host/replay/trace_runs.h"

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "diagnosis/compare.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "tests/host/model_replay.h"
#include "trace/format.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

using test::AsTraced;
using test::ModelReplay;
using test::RecordRun;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

Script Parsed(const std::string& text) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "runs.trace", &script, &errors)) << ::testing::PrintToString(errors);
  return script;
}

// Every run's model replay against the reports the run recorded: "" or the
// first difference, run by run.
std::vector<std::string> CompareRunsOnTheModel(const std::string& text, bool fast) {
  const TraceReading trace = ReadTrace(text);
  std::vector<std::string> differences;
  for (const RunReplay& run : PlanRuns(Parsed(text), trace, fast)) {
    differences.push_back(FirstDifference(run.trace.reports, AsTraced(ModelReplay(run.schedule))));
  }
  return differences;
}

// Run 1 ends with the receiver idle; run 2 began with ChannelUp (0xD8)
// already down, which the module does not report, then a press of Mute.
std::string TwoRuns() {
  return RecordRun({0xFF, 0xD8, 0xFF}, {10, 5, 10}, kTraceSizeCap) +
         RecordRun({0xD8, 0xFF, 0x58, 0xFF}, {10, 5, 5, 10}, kTraceSizeCap);
}

TEST(TraceRuns, EachRunIsAScriptOfItsOwnFromItsHeaderToTheNext) {
  const std::string text = TwoRuns();
  const TraceReading trace = ReadTrace(text);
  const std::vector<Script> runs = RunScripts(Parsed(text), trace);
  ASSERT_THAT(runs, SizeIs(2));
  ASSERT_THAT(runs[0].steps, SizeIs(3));
  ASSERT_THAT(runs[1].steps, SizeIs(4));
  EXPECT_LT(runs[0].steps.back().line, trace.runs[1].headerLine);
  EXPECT_GT(runs[1].steps.front().line, trace.runs[1].headerLine);
  EXPECT_TRUE(runs[1].fromTrace);
  EXPECT_EQ(runs[1].fileName, "runs.trace");
}

TEST(TraceRuns, EachRunStartsWithItsOwnFirstByteOnTheReceiver) {
  const std::vector<RunReplay> runs = PlanRuns(Parsed(TwoRuns()), ReadTrace(TwoRuns()), false);
  ASSERT_THAT(runs, SizeIs(2));
  EXPECT_EQ(runs[0].schedule.startByte, 0xFF);
  EXPECT_EQ(runs[1].schedule.startByte, 0xD8) << "the key that was down when the module started again";
  EXPECT_EQ(runs[1].schedule.changes.front().atMs, 0u) << "its times count from its own start";
}

TEST(TraceRuns, AKeyDownAcrossARestartIsNotReportedByTheRunsReplay) {
  const std::string text = TwoRuns();
  EXPECT_THAT(CompareRunsOnTheModel(text, false), ElementsAre("", ""));
  EXPECT_THAT(CompareRunsOnTheModel(text, true), ElementsAre("", ""));

  // Played as one script, the module sees ChannelUp go down after run 1's
  // idle receiver: a press that the module, freshly started, never reported.
  std::vector<TracedReport> recorded;
  for (const TraceRun& run : ReadTrace(text).runs)
    recorded.insert(recorded.end(), run.reports.begin(), run.reports.end());
  const std::string asOne = FirstDifference(recorded, AsTraced(ModelReplay(BuildReceiverSchedule(Parsed(text)))));
  EXPECT_THAT(asOne, ::testing::HasSubstr("got Kolvane_ChannelUp fresh"));
}

TEST(TraceRuns, ARunCutByTheSizeCapIsComparedUpToItsLastWholeByteLine) {
  const std::string first = RecordRun({0xFF, 0x58, 0xFF}, {10, 5, 10}, kTraceSizeCap);
  const std::string whole = RecordRun({0xFF, 0xD8, 0xFF, 0x00}, {10, 5, 10, 5}, kTraceSizeCap);
  for (uint64_t capacity = 200; capacity < whole.size(); ++capacity) {
    const std::string text = first + RecordRun({0xFF, 0xD8, 0xFF, 0x00}, {10, 5, 10, 5}, capacity);
    const TraceReading trace = ReadTrace(text);
    ASSERT_THAT(trace.runs, SizeIs(2));
    EXPECT_FALSE(trace.runs[0].cut);
    EXPECT_TRUE(trace.runs[1].cut);
    EXPECT_THAT(CompareRunsOnTheModel(text, true), ElementsAre("", "")) << text;
  }
}

// Random runs the module's recorder writes, one after another in one file:
// every run's fast replay on the model makes the reports it recorded.
TEST(TraceRuns, EveryRunOfARecordedTraceComparesWithItsOwnReplay) {
  static const uint8_t kBytes[] = {0xFF, 0xFF, 0xD8, 0xD9, 0x58, 0x59, 0x00, 0x01, 0xD0, 0xD1};
  std::mt19937 random(21);
  std::uniform_int_distribution<size_t> pick(0, sizeof kBytes - 1);
  std::uniform_int_distribution<int> polls(1, 30);
  std::uniform_int_distribution<int> count(1, 12);
  int reports = 0;
  for (int trace = 0; trace < 300; ++trace) {
    std::string text;
    const int runs = std::uniform_int_distribution<int>(2, 4)(random);
    for (int run = 0; run < runs; ++run) {
      std::vector<uint8_t> bytes;
      std::vector<int> lengths;
      for (int i = count(random); i > 0; --i) {
        bytes.push_back(kBytes[pick(random)]);
        lengths.push_back(polls(random));
      }
      text += RecordRun(bytes, lengths, kTraceSizeCap);
    }
    for (const TraceRun& run : ReadTrace(text).runs) reports += static_cast<int>(run.reports.size());
    EXPECT_THAT(CompareRunsOnTheModel(text, true), ::testing::Each(IsEmpty())) << text;
  }
  EXPECT_GT(reports, 1000);
}

}  // namespace
}  // namespace host
}  // namespace kolvane
