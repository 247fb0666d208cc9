#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/report/session_record.h"
#include "host/report/timeline.h"
#include "host/script/key_names.h"

namespace kolvane {
namespace host {
namespace {

KeyReport Report(int64_t us, bool repeat, int64_t delayUs) {
  return KeyReport{us, "Kolvane_VolumeUp", "VolumeUp", repeat, delayUs, !repeat};
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(Summary, DelayStatisticsCountFreshPressesOnly) {
  SessionRecord record;
  record.buttonsPressed = 4;
  record.reports = {Report(0, false, 9000), Report(0, false, 3000), Report(0, true, 220000), Report(0, false, 20000),
                    Report(0, false, 4000)};
  const Summary summary = Summarize(record);
  EXPECT_EQ(summary.buttonsPressed, 4);
  EXPECT_EQ(summary.keysReported, 5);
  EXPECT_EQ(summary.fresh, 4);
  EXPECT_EQ(summary.repeats, 1);
  EXPECT_DOUBLE_EQ(summary.medianDelayMs, 6.5);  // even count: the mean of 4 and 9
  EXPECT_DOUBLE_EQ(summary.maxDelayMs, 20.0);
}

TEST(Summary, CountsCodesOfNoKeyApartFromButtonsAndTellsOfDroppedLines) {
  SessionRecord record;
  record.buttonsPressed = 2;
  record.unknownCodes = 1;
  record.outputDropped = 3;
  const Summary summary = Summarize(record);
  EXPECT_EQ(summary.buttonsPressed, 2);
  EXPECT_EQ(summary.unknownCodes, 1);
  EXPECT_EQ(summary.outputDropped, 3u);
}

TEST(Summary, NoReportsNoDelays) {
  const Summary summary = Summarize(SessionRecord{});
  EXPECT_EQ(summary.keysReported, 0);
  EXPECT_EQ(summary.delays, 0);
}

TEST(Timeline, DrawsEveryPollAndTellsPressesFromRepeats) {
  SessionRecord record;
  record.receiver = {{0, 0xFF}, {100000, 0x58}, {200000, 0x59}, {900000, 0xFF}};
  for (int64_t us = 20000; us < 1000000; us += 20000) record.polls.push_back({us, 0xFF});
  record.reports = {Report(110000, false, 10000), Report(420000, true, 310000), Report(640000, true, 220000)};
  record.reports[0].label = "A&B";  // escaped, not broken
  record.endUs = 1000000;
  const std::string svg = RenderTimeline(record, "test <session>");
  EXPECT_EQ(Count(svg, "class=\"poll\""), record.polls.size());
  EXPECT_EQ(Count(svg, "class=\"key fresh\""), 1u);
  EXPECT_EQ(Count(svg, "class=\"key repeat\""), 2u);
  EXPECT_EQ(Count(svg, "class=\"receiver"), record.receiver.size()) << "one segment per byte shown";
  EXPECT_EQ(Count(svg, "class=\"receiver held\""), 1u) << "the held state 0x59 stands out";
  EXPECT_NE(svg.find("A&amp;B"), std::string::npos);
  EXPECT_NE(svg.find("test &lt;session&gt;"), std::string::npos);
  EXPECT_EQ(svg.find("A&B"), std::string::npos);
  EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
}

TEST(Timeline, AKeyWithoutALabelIsNamedAsTheTextOutputNamesIt) {
  SessionRecord record;
  record.reports = {KeyReport{20000, "Kolvane_TV", "", false, 20000, true}};
  record.endUs = 100000;
  ASSERT_EQ(KeyDisplayName("Kolvane_TV", ""), "TV");
  EXPECT_NE(RenderTimeline(record, "labels").find(">TV</text>"), std::string::npos);
  EXPECT_EQ(KeyDisplayName("Kolvane_TV", "Television"), "Television");
  EXPECT_EQ(KeyDisplayName("Other_Key", ""), "Other_Key");
}

// The width of the picture for a session of `seconds`, polled every 20 ms,
// with a key reported every second (no quiet stretch to cut short).
double TimelineWidth(int64_t seconds, std::string* svg) {
  SessionRecord record;
  record.receiver = {{0, 0xFF}, {1000000, 0x58}, {1100000, 0xFF}};
  for (int64_t us = 20000; us < seconds * 1000000; us += 20000) record.polls.push_back({us, 0xFF});
  for (int64_t us = 1010000; us < seconds * 1000000; us += 1000000) record.reports.push_back(Report(us, true, 10000));
  record.endUs = seconds * 1000000;
  *svg = RenderTimeline(record, "long");
  const size_t at = svg->find("width=\"");
  return at == std::string::npos ? 0 : std::stod(svg->substr(at + 7));
}

TEST(Timeline, AShortSessionKeepsTwentyMsPollsTenPixelsApart) {
  std::string svg;
  EXPECT_EQ(TimelineWidth(5, &svg), 90 + 5000 * 0.5 + 40);
  EXPECT_EQ(Count(svg, "class=\"poll\""), 249u);
}

TEST(Timeline, ALongSessionIsScaledToFitASaneWidth) {
  for (const int64_t seconds : {int64_t{20}, int64_t{600}, int64_t{3} * 3600}) {
    std::string svg;
    const double width = TimelineWidth(seconds, &svg);
    EXPECT_LE(width, 4000) << seconds << " s";
    // At most one poll tick a pixel, and time labels that do not overlap.
    EXPECT_LE(static_cast<double>(Count(svg, "class=\"poll\"")), width) << seconds << " s";
    const size_t labels = Count(svg, "class=\"label time\"");
    EXPECT_GE(labels, 4u) << seconds << " s";
    EXPECT_LE(static_cast<double>(labels), width / 60) << seconds << " s";
  }
}

TEST(Timeline, TimeLabelsOfLongSessionsReadAsMinutesAndHours) {
  std::string svg;
  TimelineWidth(int64_t{3} * 3600, &svg);
  EXPECT_NE(svg.find(">1:00:00</text>"), std::string::npos);
  TimelineWidth(600, &svg);
  EXPECT_NE(svg.find(">5:00</text>"), std::string::npos);
}

// The runs of a trace play one after another: every count of the summary
// covers them all, and the later run's times follow the earlier one's end.
TEST(AppendSession, CountsOfEveryRunAddUpAndLaterTimesFollowOn) {
  SessionRecord first;
  first.buttonsPressed = 2;
  first.unknownCodes = 1;
  first.outputDropped = 3;
  first.endUs = 1000000;
  SessionRecord second = first;
  second.reports.push_back(KeyReport{});
  second.reports.back().us = 500;
  SessionRecord all;
  AppendSession(&all, first);
  AppendSession(&all, second);
  EXPECT_EQ(all.buttonsPressed, 4);
  EXPECT_EQ(all.unknownCodes, 2);
  EXPECT_EQ(all.outputDropped, 6u);
  EXPECT_EQ(all.endUs, 2000000);
  ASSERT_EQ(all.reports.size(), 1u);
  EXPECT_EQ(all.reports[0].us, 1000500);
}

}  // namespace
}  // namespace host
}  // namespace kolvane
