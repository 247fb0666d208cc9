// What --explain reads out of a trace, on traces the recorder writes on a
// virtual clock: each finding at its edge (a hold one poll past the
// stuck-key threshold, a press and its held state as one showing of a
// code), a run with no poll, and late-poll comments that change nothing a
// replay or --compare reads.
#include "diagnosis/explain.h"

#include <stdint.h>

#include <regex>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "trace/format.h"
#include "trace/reader.h"
#include "trace/recorder.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr uint32_t kPollMs = 20;

// A run recorded on a virtual clock into a string.
class Recorded : private TraceOutput {
 public:
  Recorded() : recorder_(this, kTraceSizeCap) { recorder_.Begin(0, "2026-12-09 20:00:00", "1.0.0", "test", false); }
  // `byte` at every poll for `ms`, from the clock on.
  Recorded& Show(uint32_t byte, uint32_t ms) {
    for (uint32_t end = tick_ + ms; tick_ < end; tick_ += kPollMs) recorder_.OnPoll(byte, tick_);
    return *this;
  }
  Recorded& Report(const char* name, bool repeat) {
    recorder_.OnReport(name, repeat, tick_ - kPollMs);
    return *this;
  }
  // The thread held for `ms` after the last poll.
  Recorded& Hold(uint32_t ms) {
    tick_ += ms;
    return *this;
  }
  std::string End(bool givenUp = false) {
    recorder_.End(tick_, givenUp);
    return text_;
  }
  // What the file holds so far: a run that has not ended (a crash).
  const std::string& Text() const { return text_; }

 private:
  bool Size(uint64_t* size) override {
    *size = text_.size();
    return true;
  }
  bool Append(const char* text, size_t length) override {
    text_.append(text, length);
    return true;
  }

  TraceRecorder recorder_;
  std::string text_;
  uint32_t tick_ = kPollMs;
};

std::vector<FindingKind> Kinds(const std::string& text) {
  std::vector<FindingKind> kinds;
  for (const Finding& finding : ExplainRun(ReadTrace(text).runs.front()).findings) kinds.push_back(finding.kind);
  return kinds;
}

Finding Only(const std::string& text) {
  const RunExplanation run = ExplainRun(ReadTrace(text).runs.front());
  EXPECT_EQ(run.findings.size(), 1u) << text;
  return run.findings.empty() ? Finding(FindingKind::kNoPolls) : run.findings.front();
}

Finding OfKind(const std::string& text, FindingKind kind) {
  for (const Finding& finding : ExplainRun(ReadTrace(text).runs.front()).findings) {
    if (finding.kind == kind) return finding;
  }
  ADD_FAILURE() << "no finding of kind " << FindingName(kind) << " in\n" << text;
  return Finding(kind);
}

TEST(Explain, ARunThatPressedKeysAndRepeatedIsCleanAndCountsThem) {
  const std::string text = Recorded()
                               .Show(0xFF, 100)
                               .Show(0xD8, 20)
                               .Report("Kolvane_ChannelUp", false)
                               .Show(0xD8, 80)
                               .Show(0xD9, 220)
                               .Report("Kolvane_ChannelUp", true)
                               .Show(0xD9, 200)
                               .Show(0xFF, 100)
                               .End();
  const RunExplanation run = ExplainRun(ReadTrace(text).runs.front());
  EXPECT_THAT(run.findings, IsEmpty());
  EXPECT_EQ(run.Counts(), "2 keys (1 fresh, 1 repeat), about 36 polls over 0.740s");
}

TEST(Explain, ARunWithNoPollSaysTheModuleNeverPolledAndWhereTheRunEnded) {
  const Finding finding = Only(Recorded().End());
  EXPECT_EQ(finding.kind, FindingKind::kNoPolls);
  EXPECT_THAT(finding.summary, HasSubstr("never polled"));
  ASSERT_EQ(finding.evidence.size(), 1u);
  EXPECT_EQ(finding.evidence[0].line, 3);
  EXPECT_THAT(finding.cause, HasSubstr("IID_IDeviceRegisters"));
}

TEST(Explain, ARunGivenUpBeforeItsFirstPollBlamesTheRegisterSetUp) {
  const Finding finding = Only(Recorded().Hold(6000).End(true));
  EXPECT_EQ(finding.kind, FindingKind::kNoPolls);
  EXPECT_THAT(finding.cause, HasSubstr("register set-up"));
}

TEST(Explain, AKeyHeldThirtySecondsIsAPersonsAPollMoreIsStuck) {
  const auto held = [](uint32_t ms) {
    return Recorded().Show(0xFF, 100).Show(0x58, 100).Show(0x59, ms - 100).Show(0xFF, 100).End();
  };
  EXPECT_THAT(Kinds(held(kStuckKeyMs)), IsEmpty());
  // The recorder merges polls 20 ms apart: 30 000 ms and one poll more.
  const Finding finding = Only(held(kStuckKeyMs + kPollMs));
  EXPECT_EQ(finding.kind, FindingKind::kStuckKey);
  EXPECT_THAT(finding.summary, HasSubstr("Kolvane_VolumeUp was held for 30.020s"));
}

TEST(Explain, ACodeHeldWithBitZeroClearIsNoStuckKeyButALatchedPress) {
  EXPECT_THAT(Kinds(Recorded().Show(0xFF, 100).Show(0x58, kStuckKeyMs + 1000).End()),
              ElementsAre(FindingKind::kLatchedPress));
}

TEST(Explain, APressAndItsHeldStateOfACodeOfNoKeyAreOneShowingOfIt) {
  const Finding finding = Only(Recorded().Show(0xFF, 100).Show(0xD0, 100).Show(0xD1, 300).Show(0xFF, 100).End());
  EXPECT_EQ(finding.kind, FindingKind::kUnknownCode);
  EXPECT_THAT(finding.summary, HasSubstr("Code 0xD0 is no key of this remote: the receiver showed it 1 time"));
  EXPECT_THAT(finding.cause, HasSubstr("1 bit apart: most likely a bit error"));
}

TEST(Explain, CodesBeforeTheFirstByteWithBitZeroSetAreNotCountedTwice) {
  EXPECT_THAT(Kinds(Recorded().Show(0x02, 100).Show(0x00, 100).End()), ElementsAre(FindingKind::kNoHeldBitByte));
}

TEST(Explain, ALatePollRightAfterAReportBlamesOnKeyAndOneAtTheStartTheSetUp) {
  const std::string text = Recorded()
                               .Hold(100)
                               .Show(0xFF, 40)
                               .Show(0xD8, 20)
                               .Report("Kolvane_ChannelUp", false)
                               .Hold(300)
                               .Show(0xFF, 40)
                               .End();
  const Finding finding = Only(text);
  EXPECT_EQ(finding.kind, FindingKind::kLatePolls);
  ASSERT_EQ(finding.evidence.size(), 2u);
  EXPECT_THAT(finding.evidence[0].text, HasSubstr("100 ms late, the run's first: the register set-up held it"));
  EXPECT_THAT(finding.evidence[1].text, HasSubstr("300 ms late, right after Kolvane_ChannelUp fresh at 0.160s"));
  EXPECT_THAT(finding.summary, HasSubstr("2 polls came late, the longest 300 ms late at 0.480s"));
  EXPECT_THAT(finding.cost, HasSubstr("For up to 320 ms at a time (400 ms in all) no poll read the receiver"));
  EXPECT_THAT(finding.cause, HasSubstr("1 of 2 came right after a report: the host's OnKey held the poll thread"));
  EXPECT_THAT(finding.action, HasSubstr("Return from OnKey at once"));
}

// A busy machine delays a poll after a report now and then too: OnKey is
// blamed when those came at least twice as late as the others on average.
TEST(Explain, LatePollsAfterReportsNoLaterThanTheOthersDoNotConvictOnKey) {
  const auto run = [](uint32_t afterReport) {
    return Recorded()
        .Show(0xFF, 40)
        .Hold(60)
        .Show(0xFF, 40)
        .Show(0xD8, 20)
        .Report("Kolvane_ChannelUp", false)
        .Hold(afterReport)
        .Show(0xFF, 40)
        .End();
  };
  EXPECT_THAT(Only(run(119)).cause, HasSubstr("the host's OnKey may have held the poll thread"));
  EXPECT_THAT(Only(run(119)).action, HasSubstr("Time the host's OnKey and ReadRegister"));
  EXPECT_THAT(Only(run(120)).cause, HasSubstr("the host's OnKey held the poll thread"));
}

// The longest are the evidence, in the trace's order; the rest are counted.
TEST(Explain, TheLongestLatePollsAreListedInTheTracesOrder) {
  Recorded recorded;
  const uint32_t lates[] = {20, 90, 30, 80, 40, 70, 60};
  for (uint32_t late : lates) recorded.Show(0xFF, 20).Hold(late);
  const Finding finding = OfKind(recorded.Show(0xFF, 20).End(), FindingKind::kLatePolls);
  std::vector<std::string> listed;
  for (const Evidence& evidence : finding.evidence) listed.push_back(evidence.text);
  EXPECT_THAT(listed, ElementsAre("poll 90 ms late", "poll 80 ms late", "poll 40 ms late", "poll 70 ms late",
                                  "poll 60 ms late"));
  EXPECT_EQ(finding.moreEvidence, 2u);
}

TEST(Explain, FindingsComeMostImportantFirst) {
  const std::string text = Recorded().Show(0x00, 100).Hold(100).Show(0x00, 100).End(true);
  EXPECT_THAT(Kinds(text), ElementsAre(FindingKind::kNoHeldBitByte, FindingKind::kByteNeverChanged,
                                       FindingKind::kLatePolls, FindingKind::kGivenUp));
}

// Replay and --compare read a trace through ReadTrace: with the late-poll
// comments blanked out (line numbers kept) they read the same.
TEST(Explain, LatePollCommentsChangeNothingAReplayOrCompareReads) {
  const std::string text = Recorded()
                               .Show(0xFF, 40)
                               .Show(0xD8, 20)
                               .Report("Kolvane_ChannelUp", false)
                               .Hold(300)
                               .Show(0xD8, 20)
                               .Show(0xFF, 20)
                               .End();
  const std::string blank = std::regex_replace(text, std::regex("# [0-9.]+s poll [0-9]+ms late"), "");
  ASSERT_NE(text, blank);
  const TraceRun with = ReadTrace(text).runs.front();
  const TraceRun without = ReadTrace(blank).runs.front();
  ASSERT_EQ(with.latePolls.size(), 1u);
  EXPECT_THAT(without.latePolls, IsEmpty());
  ASSERT_EQ(with.reports.size(), without.reports.size());
  EXPECT_EQ(with.reports[0].name, without.reports[0].name);
  EXPECT_EQ(with.reports[0].ms, without.reports[0].ms);
  EXPECT_EQ(with.byteLinesWithReports, without.byteLinesWithReports);
  EXPECT_EQ(with.lastByteLine, without.lastByteLine);
  EXPECT_EQ(with.reportsAfterLastByteLine, without.reportsAfterLastByteLine);
  EXPECT_EQ(with.cut, without.cut);
}

// --- presses no person made, or made and lost --------------------------------

// VolumeUp pressed and held 300 ms, the receiver idle for `gapMs`, then
// VolumeUp's press byte again.
std::string TwoVolumeUpPresses(uint32_t gapMs) {
  return Recorded()
      .Show(0xFF, 100)
      .Show(0x58, 20)
      .Report("Kolvane_VolumeUp", false)
      .Show(0x58, 280)
      .Show(0xFF, gapMs)
      .Show(0x58, 20)
      .Report("Kolvane_VolumeUp", false)
      .Show(0x58, 280)
      .Show(0xFF, 100)
      .End();
}

TEST(Explain, AKeyFreshAgainAfterTwoIdlePollsIsADoublePressAfterThreeItIsAPersons) {
  EXPECT_THAT(Kinds(TwoVolumeUpPresses(kDoublePressGapMs)), IsEmpty());
  const Finding finding = Only(TwoVolumeUpPresses(kDoublePressGapMs - kPollMs));
  EXPECT_EQ(finding.kind, FindingKind::kDoublePress);
  EXPECT_THAT(finding.summary, HasSubstr("Kolvane_VolumeUp was reported fresh again after the receiver was idle "
                                         "for less than 60 ms, shorter than any real release and press"));
  ASSERT_EQ(finding.evidence.size(), 2u);
  EXPECT_EQ(finding.evidence[0].line, 6);
  EXPECT_EQ(finding.evidence[0].text, "0xFF (idle) for 40 ms, after Kolvane_VolumeUp fresh at 0.120s (line 4)");
  EXPECT_EQ(finding.evidence[1].line, 7);
  EXPECT_EQ(finding.evidence[1].ms, 460);
  EXPECT_EQ(finding.evidence[1].text, "Kolvane_VolumeUp fresh again, 340 ms after it");
  EXPECT_THAT(finding.cost, HasSubstr("1 fresh report of Kolvane_VolumeUp more than the user pressed"));
}

// A poll that came late saw less of the gap than there was: a slow OnKey is
// no double press.
TEST(Explain, AShortGapWhoseFirstPollCameLateIsNoDoublePress) {
  const std::string text = Recorded()
                               .Show(0xFF, 100)
                               .Show(0x58, 20)
                               .Report("Kolvane_VolumeUp", false)
                               .Hold(200)
                               .Show(0xFF, 20)
                               .Show(0x58, 20)
                               .Report("Kolvane_VolumeUp", false)
                               .Show(0xFF, 100)
                               .End();
  EXPECT_THAT(Kinds(text), ElementsAre(FindingKind::kLatePolls));
}

TEST(Explain, AHeldStateWithNoPressThatRepeatsIsNamedWithItsRepeats) {
  const auto held = [](int repeats) {
    Recorded recorded;
    recorded.Show(0xFF, 500).Show(0x79, 200);
    for (int i = 0; i < repeats; ++i) recorded.Show(0x79, 220).Report("Kolvane_VolumeDown", true);
    return recorded.Show(0xFF, 100).End();
  };
  EXPECT_THAT(Kinds(held(0)), IsEmpty());
  const Finding finding = Only(held(5));
  EXPECT_EQ(finding.kind, FindingKind::kRepeatsNoPress);
  EXPECT_THAT(finding.summary, HasSubstr("Kolvane_VolumeDown was reported 5 times as a repeat with no fresh report "
                                         "before it: its held state (0x79) came without its press byte (0x78)"));
  ASSERT_EQ(finding.evidence.size(), 2u);
  EXPECT_EQ(finding.evidence[0].text,
            "0x79 (Kolvane_VolumeDown held) for 1.300s, after 0xFF (idle): no press before it");
  EXPECT_THAT(finding.evidence[1].text, HasSubstr("Kolvane_VolumeDown repeat, the first of 5; the last at 1.800s"));
  EXPECT_THAT(finding.cause, HasSubstr("a press shorter than a poll"));
}

// The byte never changed, but it was a key's held state: its repeats tell
// what it cost, and the receiver did deliver it.
TEST(Explain, AHeldStateFromTheFirstPollIsRepeatsWithNoPressNotAByteThatNeverChanged) {
  const std::string text = Recorded()
                               .Show(0x79, 220)
                               .Report("Kolvane_VolumeDown", true)
                               .Show(0x79, 220)
                               .Report("Kolvane_VolumeDown", true)
                               .End();
  EXPECT_THAT(Kinds(text), ElementsAre(FindingKind::kRepeatsNoPress));
  const Finding finding = OfKind(text, FindingKind::kRepeatsNoPress);
  ASSERT_FALSE(finding.evidence.empty());
  EXPECT_THAT(finding.evidence[0].text, HasSubstr("from the first poll"));
  EXPECT_THAT(finding.cause, HasSubstr("a button already down when the application started the module"));
}

// A hold whose signal is lost for a poll goes on with its held state: the
// repeats are the person's.
TEST(Explain, AHoldThatLostItsSignalForAPollRepeatsWithItsPress) {
  const std::string text = Recorded()
                               .Show(0xFF, 100)
                               .Show(0x58, 20)
                               .Report("Kolvane_VolumeUp", false)
                               .Show(0x58, 80)
                               .Show(0x59, 300)
                               .Show(0xFF, 20)
                               .Show(0x59, 220)
                               .Report("Kolvane_VolumeUp", true)
                               .Show(0xFF, 100)
                               .End();
  EXPECT_THAT(Kinds(text), IsEmpty());
}

TEST(Explain, APressByteShownASecondIsALongPressAPollMoreIsLatched) {
  const auto press = [](uint32_t ms) {
    return Recorded()
        .Show(0xFF, 100)
        .Show(0xD8, 20)
        .Report("Kolvane_ChannelUp", false)
        .Show(0xD8, ms - 20)
        .Show(0xFF, 100)
        .End();
  };
  EXPECT_THAT(Kinds(press(kLatchedPressMs)), IsEmpty());
  const Finding finding = Only(press(kLatchedPressMs + kPollMs));
  EXPECT_EQ(finding.kind, FindingKind::kLatchedPress);
  EXPECT_THAT(finding.summary, HasSubstr("The receiver kept Kolvane_ChannelUp's press byte (0xD8) for 1.020s"));
  ASSERT_EQ(finding.evidence.size(), 3u);
  EXPECT_EQ(finding.evidence[1].text, "Kolvane_ChannelUp fresh, its one report");
  EXPECT_EQ(finding.evidence[2].text, "then 0xFF (idle)");
  EXPECT_THAT(finding.cost, HasSubstr("every button pressed meanwhile was lost"));
}

// A slow OnKey keeps the press byte on the receiver while no poll reads
// it: the late polls say so, and that is no latch.
TEST(Explain, APressByteLengthenedByALatePollIsNotLatched) {
  const std::string text =
      Recorded().Show(0xFF, 100).Show(0xD8, 20).Report("Kolvane_ChannelUp", false).Hold(5000).Show(0xFF, 100).End();
  EXPECT_THAT(Kinds(text), ElementsAre(FindingKind::kLatePolls));
}

// --- a trace that ends early --------------------------------------------------

TEST(Explain, ARunWithNoClosingCommentEndedEarlyAndItsLastReportsCount) {
  Recorded recorded;
  recorded.Show(0xFF, 100).Show(0xD8, 20).Report("Kolvane_ChannelUp", false);
  const TraceReading reading = ReadTrace(recorded.Text());
  ASSERT_EQ(reading.runs.size(), 1u);
  EXPECT_EQ(reading.partialLine, 0);
  const RunExplanation run = ExplainRun(reading.runs.front());
  EXPECT_EQ(run.Counts(), "1 key (1 fresh, 0 repeats), about 5 polls over 0.120s");
  ASSERT_EQ(run.findings.size(), 1u);
  const Finding& finding = run.findings.front();
  EXPECT_EQ(finding.kind, FindingKind::kEndedEarly);
  EXPECT_THAT(finding.summary, HasSubstr("The run has no closing comment: its trace ends at line 4, 0.120s"));
  ASSERT_EQ(finding.evidence.size(), 1u);
  EXPECT_EQ(finding.evidence[0].line, 4);
  EXPECT_THAT(finding.evidence[0].text, HasSubstr("Kolvane_ChannelUp fresh, after the last byte line"));
  EXPECT_THAT(finding.cause, HasSubstr("ended or crashed"));
}

TEST(Explain, ATraceCutInTheMiddleOfALineIsReadUpToItsLastWholeLine) {
  const std::string whole =
      Recorded().Show(0xFF, 100).Show(0xD8, 20).Report("Kolvane_ChannelUp", false).Show(0xFF, 100).End();
  // The last byte line, "raw 0xFF 100ms", cut after "raw 0x".
  const std::string cut = whole.substr(0, whole.rfind("raw 0xFF") + 6);
  const TraceReading reading = ReadTrace(cut);
  EXPECT_EQ(reading.partialLine, 6);
  EXPECT_EQ(PlayedText(cut, reading), whole.substr(0, whole.rfind("raw 0xFF")));
  const TraceRun& run = reading.runs.front();
  EXPECT_EQ(run.lastLine, 5);
  EXPECT_EQ(run.byteLines.size(), 2u);
  const Finding finding = Only(cut);
  EXPECT_EQ(finding.kind, FindingKind::kEndedEarly);
  EXPECT_THAT(finding.summary,
              HasSubstr("ends in the middle of line 6: it was read up to its last whole line, line 5"));
  EXPECT_THAT(finding.cause, HasSubstr("partial copy"));
  // Cut at a line's end instead: whole lines, a run with no end.
  const std::string atLineEnd = whole.substr(0, whole.rfind("# end of run"));
  EXPECT_EQ(ReadTrace(atLineEnd).partialLine, 0);
  EXPECT_THAT(Only(atLineEnd).summary, HasSubstr("no closing comment"));
}

TEST(Explain, AScriptThatIsNoTraceIsReadWholeWithoutItsLastLineEnd) {
  const std::string script = "press ChannelUp\nwait 100ms";
  const TraceReading reading = ReadTrace(script);
  EXPECT_EQ(reading.partialLine, 0);
  EXPECT_EQ(PlayedText(script, reading), script);
}

}  // namespace
}  // namespace kolvane
