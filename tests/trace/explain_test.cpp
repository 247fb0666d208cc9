// What --explain reads out of a trace, on traces the recorder writes on a
// virtual clock: each finding at its edge (a hold one poll past the
// stuck-key threshold, a press and its held state as one showing of a
// code), a run with no poll, and late-poll comments that change nothing a
// replay or --compare reads.
#include "trace/explain.h"

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
  return run.findings.empty() ? Finding{FindingKind::kNoPolls, "", {}, 0, "", "", ""} : run.findings.front();
}

Finding OfKind(const std::string& text, FindingKind kind) {
  for (const Finding& finding : ExplainRun(ReadTrace(text).runs.front()).findings) {
    if (finding.kind == kind) return finding;
  }
  ADD_FAILURE() << "no finding of kind " << FindingName(kind) << " in\n" << text;
  return Finding{kind, "", {}, 0, "", "", ""};
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

TEST(Explain, ACodeHeldWithBitZeroClearIsNoStuckKeyButAReceiverThatKeepsItsByte) {
  EXPECT_THAT(Kinds(Recorded().Show(0xFF, 100).Show(0x58, kStuckKeyMs + 1000).End()), IsEmpty());
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

}  // namespace
}  // namespace kolvane
