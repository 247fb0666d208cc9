// The timeline as its readers meet it: --explain's findings named by their
// trace lines where their evidence is, the late polls a trace recorded in
// the picture of its replay, the start of every run, and a long trace
// that stays as wide as a screen can scroll with labels that do not pile up.
#include <stdint.h>
#include <stdio.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "diagnosis/explain.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/replay/trace_runs.h"
#include "host/report/timeline.h"
#include "host/report/timeline_scale.h"
#include "host/report/trace_timeline.h"
#include "host/script/script.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAreArray;
using ::testing::SizeIs;

constexpr int64_t kUs = 1000;  // a millisecond
constexpr char kHeader[] = "# kolvane 1.0.0 trace, test, started 2026-12-10 10:00:00\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string Svg(const std::string& traceText) {
  const TraceReading reading = ReadTrace(traceText);
  const TraceDrawing drawing = DrawTrace(reading, ExplainTrace(reading, "t.trace"));
  return RenderTimeline(drawing.record, "t.trace", drawing.findings);
}

// What each finding's group names: its kind and its evidence lines.
std::vector<std::pair<std::string, std::string>> DrawnFindings(const std::string& svg) {
  std::vector<std::pair<std::string, std::string>> drawn;
  const std::regex group("<g class=\"finding\" data-kind=\"([a-z_0-9]+)\" data-lines=\"([0-9 ]*)\">");
  for (std::sregex_iterator it(svg.begin(), svg.end(), group), end; it != end; ++it) {
    drawn.emplace_back((*it)[1], (*it)[2]);
  }
  return drawn;
}

// A slow OnKey (polls 300 ms late after two reports) and a code of no key
// (0x6A, one bit from TV), as the module writes them.
std::string TroubledTrace() {
  return std::string(kHeader) +
         "raw 0xFF 20ms\n"                     // 2
         "# 0.044s Kolvane_ChannelUp fresh\n"  // 3
         "raw 0xD8 326ms\n"                    // 4
         "# 0.370s poll 306ms late\n"          // 5
         "raw 0xFF 558ms\n"                    // 6
         "raw 0x6A 100ms\n"                    // 7
         "raw 0xFF 200ms\n"                    // 8
         "# 1.228s Kolvane_Mute fresh\n"       // 9
         "raw 0x08 328ms\n"                    // 10
         "# 1.556s poll 308ms late\n"          // 11
         "raw 0xFF 373ms\n"                    // 12
         "# end of run, 1.929s after it began\n";
}

TEST(ExplainTimeline, NamesTheEvidenceLinesOfEveryFinding) {
  const TraceReading reading = ReadTrace(TroubledTrace());
  const TraceExplanation explanation = ExplainTrace(reading, "t.trace");
  ASSERT_GE(explanation.Findings(), 2u) << "late polls and an unknown code";
  const TraceDrawing drawing = DrawTrace(reading, explanation);
  const std::string svg = RenderTimeline(drawing.record, "t.trace", drawing.findings);
  std::vector<std::pair<std::string, std::string>> expected;
  for (const Finding& finding : explanation.runs[0].findings) {
    std::string lines;
    for (const Evidence& evidence : finding.evidence)
      lines += (lines.empty() ? "" : " ") + std::to_string(evidence.line);
    expected.emplace_back(FindingName(finding.kind), lines);
    // Listed in words too, below the axis.
    EXPECT_NE(svg.find(std::string(FindingName(finding.kind)) + ", line"), std::string::npos) << lines;
  }
  EXPECT_THAT(DrawnFindings(svg), ElementsAreArray(expected));
  EXPECT_NE(svg.find(">line 5</text>"), std::string::npos) << "the mark of the first late poll";
  EXPECT_NE(svg.find("late_polls, lines 5, 11: "), std::string::npos);
}

TEST(ExplainTimeline, DrawsTheTraceAsRecorded) {
  const std::string svg = Svg(TroubledTrace());
  EXPECT_EQ(Count(svg, "class=\"key fresh\""), 2u);
  EXPECT_EQ(Count(svg, "class=\"late-poll\""), 2u);
  EXPECT_NE(svg.find("class=\"late-poll\" data-line=\"5\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"late-poll\" data-line=\"11\""), std::string::npos);
  EXPECT_EQ(Count(svg, "class=\"receiver"), 7u) << "one stretch a byte line";
  EXPECT_EQ(Count(svg, "class=\"poll\""), 0u) << "a trace records no on-time poll";
  EXPECT_EQ(Count(svg, "class=\"run-start\" data-line=\"1\""), 1u);
}

TEST(ExplainTimeline, MarksTheStartOfEveryRun) {
  const std::string run = std::string(kHeader) + "raw 0xFF 200ms\n# end of run, 0.220s after it began\n";
  const std::string svg = Svg(run + run + run);
  EXPECT_EQ(Count(svg, "class=\"run-start\""), 3u);
  for (const char* line : {"data-line=\"1\"", "data-line=\"4\"", "data-line=\"7\""}) {
    EXPECT_EQ(Count(svg, std::string("class=\"run-start\" ") + line), 1u) << line;
  }
  // Each run's finding (its byte never changed) says which run it is.
  EXPECT_NE(svg.find("byte_never_changed, run 2 of 3 (from line 4), line"), std::string::npos);
}

// Evidence without a time of its own (a header, a cut line) is drawn at the
// time of the last line before it that has one.
TEST(ExplainTimeline, EvidenceWithoutATimeTakesItsLinesPlace) {
  const TraceRun run = ReadTrace(TroubledTrace()).runs[0];
  EXPECT_EQ(LineTimeMs(run, 1), 0);
  EXPECT_EQ(LineTimeMs(run, 2), 20);
  EXPECT_EQ(LineTimeMs(run, 3), 44) << "a report's own";
  EXPECT_EQ(LineTimeMs(run, 4), 40) << "a byte line's from its first poll";
  EXPECT_EQ(LineTimeMs(run, 7), 924) << "20 + 20 + 326 + 558";
  EXPECT_EQ(LineTimeMs(run, 13), 1929) << "the end's";
  EXPECT_EQ(LineTimeMs(run, 99), 1929);
}

// A trace is anyone's text: a name or a header it holds cannot break the XML.
TEST(ExplainTimeline, WhatATraceHoldsIsEscaped) {
  const std::string svg =
      Svg(std::string(kHeader) + "raw 0xFF 20ms\n# 0.044s Kolvane_<b>&\"x\" fresh\nraw 0xD8 100ms\nraw 0xFF 100ms\n");
  EXPECT_NE(svg.find("&lt;b&gt;&amp;&quot;x&quot;"), std::string::npos);
  EXPECT_EQ(svg.find("<b>"), std::string::npos);
}

// --- a replay's picture -------------------------------------------------------

Script Parsed(const std::string& text) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "t.trace", &script, &errors)) << ::testing::PrintToString(errors);
  return script;
}

TEST(ReplayTimeline, ShowsTheLatePollsTheTraceRecorded) {
  const std::string text = TroubledTrace();
  const std::vector<RunReplay> runs = PlanRuns(Parsed(text), ReadTrace(text), false);
  ASSERT_THAT(runs, SizeIs(1));
  // A plain replay shows each change when the trace did, from its start.
  std::vector<int64_t> shownUs;
  for (const ReceiverChange& change : runs[0].schedule.changes)
    shownUs.push_back(static_cast<int64_t>(change.atMs) * kUs);
  SessionRecord record;
  record.endUs = 2000 * kUs;
  for (int64_t us = 20 * kUs; us < record.endUs; us += 20 * kUs) record.polls.push_back({us, 0xFF});
  AddRecordedNotes(runs[0], shownUs, &record);
  ASSERT_THAT(record.latePolls, SizeIs(2));
  EXPECT_EQ(record.latePolls[0].us, 370 * kUs);
  EXPECT_EQ(record.latePolls[0].lateUs, 306 * kUs);
  EXPECT_EQ(record.latePolls[1].line, 11);
  ASSERT_THAT(record.runStarts, SizeIs(1));
  EXPECT_EQ(record.runStarts[0].headerLine, 1);
  const std::string svg = RenderTimeline(record, "replay");
  EXPECT_NE(svg.find("class=\"late-poll\" data-line=\"5\""), std::string::npos);
  EXPECT_NE(svg.find(">306 ms late</text>"), std::string::npos);
  EXPECT_EQ(Count(svg, "class=\"poll\""), record.polls.size()) << "the replay's own polls beside them";
}

TEST(ReplayTimeline, AScriptThatIsNoTraceHasNoRunOrLatePoll) {
  const std::string text = "press 1\nwait 300ms\n";
  const std::vector<RunReplay> runs = PlanRuns(Parsed(text), ReadTrace(text), false);
  SessionRecord record;
  AddRecordedNotes(runs[0], {0, 100 * kUs}, &record);
  EXPECT_TRUE(record.runStarts.empty());
  EXPECT_TRUE(record.latePolls.empty());
}

// --- long traces --------------------------------------------------------------

// "1.234s", as the module writes a time.
std::string Seconds(int64_t ms) {
  char text[32];
  snprintf(text, sizeof text, "%lld.%03llds", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return text;
}

std::string ByteLine(const char* byte, int64_t ms) {
  return std::string("raw ") + byte + " " + std::to_string(ms) + "ms\n";
}

// `seconds` of busy use as the module traces it: a press every 160 to 250
// ms, a hold with repeats now and then, a late poll every so often.
std::string BusyTrace(int seconds) {
  std::string text = kHeader;
  int64_t atMs = 20;
  for (int i = 0; atMs < int64_t{seconds} * 1000; ++i) {
    const int64_t idleMs = 60 + 30 * (i % 4);
    text += ByteLine("0xFF", idleMs);
    atMs += idleMs;
    text += "# " + Seconds(atMs) + " Kolvane_ChannelUp fresh\n" + ByteLine("0xD8", 100);
    if (i % 8 == 7) text += "# " + Seconds(atMs + 100) + " poll 300ms late\n";
    atMs += 100;
    if (i % 10 != 9) continue;
    for (int64_t repeat = 0; repeat < 4; ++repeat)
      text += "# " + Seconds(atMs + 200 * repeat) + " Kolvane_ChannelUp repeat\n";
    text += ByteLine("0xD9", 800);
    atMs += 800;
  }
  return text + ByteLine("0xFF", 200);
}

double Width(const std::string& svg) {
  const size_t at = svg.find("width=\"");
  return at == std::string::npos ? 0 : std::stod(svg.substr(at + 7));
}

// The x of every label on the plot, whatever its row.
std::vector<double> LabelXs(const std::string& svg) {
  std::vector<double> xs;
  const std::regex label("<text class=\"label [a-z]+\" x=\"([0-9.]+)\"");
  for (std::sregex_iterator it(svg.begin(), svg.end(), label), end; it != end; ++it) xs.push_back(std::stod((*it)[1]));
  return xs;
}

// The most labels whose x falls in any 100 px.
size_t MostLabelsPer100Px(std::vector<double> xs) {
  std::sort(xs.begin(), xs.end());
  size_t most = 0;
  for (size_t first = 0, last = 0; last < xs.size(); ++last) {
    while (xs[last] - xs[first] >= 100) ++first;
    most = std::max(most, last - first + 1);
  }
  return most;
}

constexpr size_t kMostLabelsPer100Px = 12;

TEST(LongTimeline, FortySecondsOfBusyUseStayWithinTheWidthAndUncrowded) {
  const std::string text = BusyTrace(40);
  const std::string svg = Svg(text);
  EXPECT_LE(Width(svg), kTimelineMaxWidth);
  EXPECT_LE(MostLabelsPer100Px(LabelXs(svg)), kMostLabelsPer100Px);
  // Nothing left out but labels: every report and late poll has its mark.
  const TraceRun run = ReadTrace(text).runs[0];
  size_t repeats = 0;
  for (const TracedReport& report : run.reports) repeats += report.repeat ? 1 : 0;
  EXPECT_EQ(Count(svg, "class=\"key fresh\""), run.reports.size() - repeats);
  EXPECT_EQ(Count(svg, "class=\"key repeat\""), repeats);
  EXPECT_EQ(Count(svg, "class=\"late-poll\""), run.latePolls.size());
  EXPECT_GE(LabelXs(svg).size(), 40u) << "labels thinned, not gone";
}

TEST(LongTimeline, TheRepeatsOfAHoldAreCountedInOneLabel) {
  const std::string svg = Svg(BusyTrace(10));
  EXPECT_NE(svg.find(">4 repeats</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">ChannelUp: "), std::string::npos) << "they follow their press";
}

// Two presses half a minute apart: the wait between is cut down to a break
// that says how long it was, and the presses keep their full scale.
TEST(LongTimeline, AQuietStretchIsCutShortWithABreakThatSaysHowLong) {
  const std::string svg = Svg(std::string(kHeader) +
                              "raw 0xFF 20ms\n# 0.040s Kolvane_ChannelUp fresh\nraw 0xD8 100ms\nraw 0xFF 30000ms\n"
                              "# 30.140s Kolvane_Mute fresh\nraw 0x08 100ms\nraw 0xFF 200ms\n");
  EXPECT_EQ(Count(svg, "class=\"cut\""), 1u);
  EXPECT_NE(svg.find(">cut 29.2s</text>"), std::string::npos) << "30 s less what is kept on each side";
  EXPECT_LT(Width(svg), 1500) << "not 15,000 px of idle";
  EXPECT_NE(svg.find(">29.7s</text>"), std::string::npos) << "the time where the picture resumes";
}

// Ten minutes apart, the times after each break read to the tenth.
TEST(LongTimeline, TimesPastAMinuteReadToTheTenthWhereTheyHaveOne) {
  const std::string svg = Svg(std::string(kHeader) +
                              "raw 0xFF 20ms\n# 0.040s Kolvane_ChannelUp fresh\nraw 0xD8 100ms\nraw 0xFF 600000ms\n"
                              "# 600.140s Kolvane_ChannelUp fresh\nraw 0xD8 100ms\nraw 0xFF 300ms\n");
  EXPECT_NE(svg.find(">cut 9:59.2</text>"), std::string::npos);
  EXPECT_NE(svg.find(">10:00.2</text>"), std::string::npos);
  const std::regex label(">([0-9:.]+)</text>");
  std::map<std::string, int> times;
  for (std::sregex_iterator it(svg.begin(), svg.end(), label), end; it != end; ++it) ++times[(*it)[1]];
  for (const auto& [text, count] : times) EXPECT_EQ(count, 1) << text << " twice on the axis";
}

// --- the scale --------------------------------------------------------------

TEST(TimeScale, AShortSessionIsHalfAPixelAMillisecond) {
  const TimeScale scale({100 * kUs, 1900 * kUs, 3800 * kUs}, 5000 * kUs, kTimelineMaxWidth);
  EXPECT_TRUE(scale.Cuts().empty());
  EXPECT_DOUBLE_EQ(scale.X(1000 * kUs), 500);
}

TEST(TimeScale, OnlyAStretchLongerThanTheBoundIsCut) {
  const TimeScale exactly({1000 * kUs, 1000 * kUs + kLongQuietUs}, 4000 * kUs, kTimelineMaxWidth);
  EXPECT_TRUE(exactly.Cuts().empty());
  const TimeScale longer({1000 * kUs, 1000 * kUs + kLongQuietUs + 1}, 4000 * kUs, kTimelineMaxWidth);
  ASSERT_THAT(longer.Cuts(), SizeIs(1));
  EXPECT_EQ(longer.Cuts()[0].fromUs, 1000 * kUs + kQuietKeptUs);
  EXPECT_EQ(longer.Cuts()[0].toUs, 1000 * kUs + kLongQuietUs + 1 - kQuietKeptUs);
  // Its break is as wide as a break, and time after it runs on at the scale.
  // A difference of two positions is exact to a fraction of a pixel only: the
  // x87 arithmetic of the x86 build rounds it otherwise than SSE does.
  constexpr double kPixelTolerance = 1e-9;
  EXPECT_NEAR(longer.X(longer.Cuts()[0].toUs) - longer.X(longer.Cuts()[0].fromUs), longer.BreakWidth(),
              kPixelTolerance);
  EXPECT_NEAR(longer.X(3500 * kUs) - longer.X(3400 * kUs), 100 * kTimelinePixelsPerMs, kPixelTolerance);
}

TEST(TimeScale, ManyBreaksAndHoursStayWithinTheWidthInOrder) {
  constexpr int64_t kHourUs = int64_t{3600} * 1000 * kUs;
  std::vector<int64_t> events;
  for (int64_t s = 0; s < 3600; s += 5) events.push_back(s * 1000 * kUs);
  const TimeScale scale(events, kHourUs, kTimelineMaxWidth);
  EXPECT_THAT(scale.Cuts(), SizeIs(720)) << "the last 5 s up to the end too";
  EXPECT_LE(scale.Width(), kTimelineMaxWidth + 1e-6);
  EXPECT_LE(scale.BreakWidth() * static_cast<double>(scale.Cuts().size()), kTimelineMaxWidth * kMostBreakShare + 1e-6);
  double last = -1;
  for (int64_t us = 0; us <= kHourUs; us += 777 * kUs) {
    EXPECT_GT(scale.X(us), last) << us;
    last = scale.X(us);
  }
}

}  // namespace
}  // namespace host
}  // namespace kolvane
