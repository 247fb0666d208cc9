// --compare's reading of a trace's report comments, and its matching of the
// replay's reports: same keys in the same order, a hold allowed one repeat
// more or fewer, the first difference named with its time, and for a trace
// of several runs, which of them differ.
#include "diagnosis/compare.h"

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TracedReport Fresh(int64_t ms, const char* name) { return TracedReport{ms, name, false}; }
TracedReport Repeat(int64_t ms, const char* name) { return TracedReport{ms, name, true}; }

// A press of `name` at `ms` followed by `repeats` repeats 200 ms apart.
void Hold(std::vector<TracedReport>* reports, int64_t ms, const char* name, int repeats) {
  reports->push_back(Fresh(ms, name));
  for (int i = 1; i <= repeats; ++i) reports->push_back(Repeat(ms + 80 + int64_t{200} * i, name));
}

TEST(ReadTrace, TakesTheReportCommentsAndPassesOverEverythingElse) {
  const std::string trace =
      "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:13:27\n"
      "# a kolvane-host script: replay it with 'kolvane-host FILE'\n"
      "raw 0xFF 520ms\n"
      "# 0.521s Kolvane_ChannelUp fresh\r\n"
      "raw 0xD8 100ms\n"
      "# 12.345s Kolvane_VolumeUp repeat\n"
      "# 1.5s Kolvane_TV fresh\n"          // not three decimals: passed over
      "# 2.000s Kolvane_TV fresh extra\n"  // more words: passed over
      "# 3.000s Kolvane_TV held\n"         // not a kind of report
      "raw 0x59 300ms\n"
      "# end of run, 12.360s after it began\n";
  const std::vector<TracedReport> reports = ReadTrace(trace).runs.front().reports;
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].ms, 521);
  EXPECT_EQ(reports[0].name, "Kolvane_ChannelUp");
  EXPECT_FALSE(reports[0].repeat);
  EXPECT_EQ(reports[1].ms, 12345);
  EXPECT_EQ(reports[1].name, "Kolvane_VolumeUp");
  EXPECT_TRUE(reports[1].repeat);
}

TEST(FirstDifference, TheSameReportsAtOtherTimesMatch) {
  std::vector<TracedReport> expected, got;
  Hold(&expected, 500, "Kolvane_VolumeUp", 3);
  Hold(&got, 517, "Kolvane_VolumeUp", 3);
  expected.push_back(Fresh(2000, "Kolvane_Exit"));
  got.push_back(Fresh(2011, "Kolvane_Exit"));
  EXPECT_THAT(FirstDifference(expected, got), IsEmpty());
  EXPECT_THAT(FirstDifference({}, {}), IsEmpty());
}

TEST(FirstDifference, AHoldMayHaveOneRepeatMoreOrFewerButNotTwo) {
  std::vector<TracedReport> expected, one_more, one_fewer, two_fewer;
  Hold(&expected, 500, "Kolvane_VolumeUp", 3);
  Hold(&one_more, 500, "Kolvane_VolumeUp", 4);
  Hold(&one_fewer, 500, "Kolvane_VolumeUp", 2);
  Hold(&two_fewer, 500, "Kolvane_VolumeUp", 1);
  EXPECT_THAT(FirstDifference(expected, one_more), IsEmpty());
  EXPECT_THAT(FirstDifference(expected, one_fewer), IsEmpty());
  EXPECT_EQ(FirstDifference(expected, two_fewer),
            "at 0.780s: expected Kolvane_VolumeUp repeat x3 at 0.780s, got Kolvane_VolumeUp repeat at 0.780s");
}

TEST(FirstDifference, AHoldWithALoneRepeatMayHaveNoneAndOneWithNoneMayGainOne) {
  std::vector<TracedReport> with_one, with_none;
  Hold(&with_one, 500, "Kolvane_VolumeUp", 1);
  with_one.push_back(Fresh(1500, "Kolvane_VolumeUp"));
  Hold(&with_none, 500, "Kolvane_VolumeUp", 0);
  with_none.push_back(Fresh(1500, "Kolvane_VolumeUp"));
  EXPECT_THAT(FirstDifference(with_one, with_none), IsEmpty());
  EXPECT_THAT(FirstDifference(with_none, with_one), IsEmpty());
}

TEST(FirstDifference, NamesTheFirstOtherKeyWithItsTime) {
  std::vector<TracedReport> expected{Fresh(100, "Kolvane_TV"), Fresh(700, "Kolvane_ChannelUp"),
                                     Fresh(900, "Kolvane_Mute")};
  std::vector<TracedReport> got{Fresh(104, "Kolvane_TV"), Fresh(712, "Kolvane_ChannelDown"),
                                Fresh(905, "Kolvane_Mute")};
  EXPECT_EQ(FirstDifference(expected, got),
            "at 0.700s: expected Kolvane_ChannelUp fresh at 0.700s, got Kolvane_ChannelDown fresh at 0.712s");
}

TEST(FirstDifference, AFreshPressIsNotARepeat) {
  const std::vector<TracedReport> expected{Fresh(100, "Kolvane_TV"), Fresh(400, "Kolvane_TV")};
  const std::vector<TracedReport> got{Fresh(100, "Kolvane_TV"), Repeat(400, "Kolvane_TV"), Repeat(600, "Kolvane_TV")};
  EXPECT_THAT(FirstDifference(expected, got),
              HasSubstr("expected Kolvane_TV fresh at 0.400s, got Kolvane_TV repeat x2"));
}

TEST(FirstDifference, ReportsMissingOrExtraAtTheEnd) {
  const std::vector<TracedReport> two{Fresh(100, "Kolvane_TV"), Fresh(400, "Kolvane_Mute")};
  const std::vector<TracedReport> one{Fresh(100, "Kolvane_TV")};
  EXPECT_EQ(FirstDifference(two, one), "at 0.400s: expected Kolvane_Mute fresh at 0.400s, got nothing more");
  EXPECT_EQ(FirstDifference(one, two), "at 0.400s: expected nothing more, got Kolvane_Mute fresh at 0.400s");
}

TEST(FirstDifference, AKeyNameFromTheTraceIsEchoedPrintable) {
  const std::vector<TracedReport> expected{Fresh(100, "Kolvane_\x1B[2J")};
  EXPECT_EQ(FirstDifference(expected, {}), "at 0.100s: expected Kolvane_\\x1B[2J fresh at 0.100s, got nothing more");
}

// A run of a trace compared: `difference` "" when it matched.
RunComparison Compared(int headerLine, size_t reports, const std::string& difference = "") {
  RunComparison run;
  run.headerLine = headerLine;
  run.reports = reports;
  run.difference = difference;
  return run;
}

const char kDiffers[] =
    "at 0.423s: expected Kolvane_ChannelUp fresh at 0.423s, got Kolvane_ChannelDown fresh at 0.440s";

TEST(ComparisonLines, ATraceOfOneRunIsToldAsAWhole) {
  TraceComparison comparison{"remote.trace", {Compared(1, 16)}};
  EXPECT_THAT(ComparisonLines(comparison), ElementsAre("the replay made the 16 reports that remote.trace recorded"));
  comparison.runs[0].difference = kDiffers;
  EXPECT_THAT(ComparisonLines(comparison),
              ElementsAre(std::string("the replay differs from remote.trace ") + kDiffers));
  EXPECT_EQ(FirstRunDifference(comparison), kDiffers);
}

TEST(ComparisonLines, ATraceOfSeveralRunsSaysHowManyMatchAndWhichDiffer) {
  TraceComparison comparison{"remote.trace", {Compared(1, 16), Compared(57, 3), Compared(90, 22)}};
  EXPECT_TRUE(comparison.Match());
  EXPECT_THAT(ComparisonLines(comparison),
              ElementsAre("all 3 runs of remote.trace match: the replay made the 41 reports they recorded"));
  EXPECT_EQ(FirstRunDifference(comparison), "");

  comparison.runs[1].difference = kDiffers;
  EXPECT_FALSE(comparison.Match());
  EXPECT_THAT(ComparisonLines(comparison), ElementsAre("3 runs of remote.trace: 2 match, 1 differs",
                                                       std::string("run 2 of 3 (from line 57) differs ") + kDiffers));
  EXPECT_EQ(FirstRunDifference(comparison), std::string("run 2 of 3 (from line 57) differs ") + kDiffers);
}

TEST(ComparisonLines, ManyRunsThatDifferAreNamedUpToTenThenCounted) {
  TraceComparison comparison{"remote.trace", {}};
  for (int i = 0; i < 13; ++i) comparison.runs.push_back(Compared(1 + 10 * i, 1, kDiffers));
  comparison.runs.push_back(Compared(200, 1));
  const std::vector<std::string> lines = ComparisonLines(comparison);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "14 runs of remote.trace: 1 matches, 13 differ");
  EXPECT_THAT(lines[10], HasSubstr("run 10 of 14 (from line 91) differs"));
  EXPECT_EQ(lines[11], "3 more runs differ");
}

TEST(ComparisonLines, ARunCutByTheSizeCapSaysSo) {
  TraceComparison comparison{"remote.trace", {Compared(1, 16), Compared(57, 3)}};
  comparison.runs[1].cut = true;
  comparison.runs[1].lastByteLine = 402113;
  comparison.runs[1].reportsAfterLastByteLine = 1;
  const std::string note =
      "run 2 of 2 (from line 57) was cut by the size cap: compared up to its last whole byte line, line 402113; 1 "
      "report recorded after its last byte line, whose byte it does not hold, was left out";
  EXPECT_THAT(ComparisonLines(comparison),
              ElementsAre("all 2 runs of remote.trace match: the replay made the 19 reports they recorded", note));
  EXPECT_EQ(ComparisonNote(comparison), note);
}

TEST(ComparisonLines, ATraceCutInTheMiddleOfALineSaysWhere) {
  TraceComparison comparison{"remote.trace", {Compared(1, 2)}, 57};
  const std::string note = "remote.trace was cut in the middle of line 57: compared up to its last whole line, line 56";
  EXPECT_THAT(ComparisonLines(comparison),
              ElementsAre("the replay made the 2 reports that remote.trace recorded", note));
  EXPECT_EQ(ComparisonNote(comparison), note);
}

}  // namespace
}  // namespace kolvane
