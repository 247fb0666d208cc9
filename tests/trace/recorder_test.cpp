// The trace of a poll loop's run on a virtual clock: equal bytes merged into
// one byte line, durations from the first poll of a byte to the first poll of
// the next (the last line to its last poll), a line an hour while a byte stays,
// report comments timed from the run's start, a run across the tick
// counter's wrap; and on a file double: the size cap against the file's
// real size, a failed write, a file that ends mid-line or capped.
#include "trace/recorder.h"

#include <stdint.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "trace/format.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr uint32_t kPollMs = 20;

// A file that collects what the recorder writes, line by line, and may
// hold bytes from earlier (`size`), be added to by others, or fail.
class Trace : private TraceOutput {
 public:
  explicit Trace(uint64_t cap = kTraceSizeCap) : recorder_(this, cap) {}

  TraceRecorder& recorder() { return recorder_; }
  // Polls `count` times from `tick` on, one poll period apart; returns the tick after.
  uint32_t Polls(uint32_t byte, int count, uint32_t tick) {
    for (int i = 0; i < count; ++i, tick += kPollMs) recorder_.OnPoll(byte, tick);
    return tick;
  }
  // The lines written, headers left out.
  std::vector<std::string> Body() const {
    std::vector<std::string> body;
    for (const std::string& line : lines_) {
      if (line.rfind("# kolvane ", 0) != 0 && line.rfind("# a kolvane-host script", 0) != 0) body.push_back(line);
    }
    return body;
  }
  const std::vector<std::string>& lines() const { return lines_; }
  // The file's size: what others wrote and what the recorder wrote.
  uint64_t size() const { return size_; }
  void AddedByOthers(uint64_t bytes) { size_ += bytes; }
  void FailAppendsAfter(int appends) { appendsLeft_ = appends; }
  void FailSize() { sizeFails_ = true; }
  int appendCalls() const { return appendCalls_; }

 private:
  bool Size(uint64_t* size) override {
    *size = size_;
    return !sizeFails_;
  }
  bool Append(const char* text, size_t length) override {
    ++appendCalls_;
    if (appendsLeft_ == 0) return false;
    if (appendsLeft_ > 0) --appendsLeft_;
    EXPECT_EQ(text[length - 1], '\n') << "a line is written whole";
    lines_.emplace_back(text, length - 1);
    size_ += length;
    return true;
  }

  TraceRecorder recorder_;
  std::vector<std::string> lines_;
  uint64_t size_ = 0;
  int appendsLeft_ = -1;  // -1: never fails
  bool sizeFails_ = false;
  int appendCalls_ = 0;
};

TEST(TraceRecorder, HeaderNamesTheRunAndHowToReplayIt) {
  Trace trace;
  trace.recorder().Begin(0, "2026-12-09 02:13:27", "1.0.0", "linux x86_64", false);
  EXPECT_THAT(trace.lines(), ElementsAre("# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:13:27",
                                         StartsWith("# a kolvane-host script: replay it with 'kolvane-host FILE'")));
}

TEST(TraceRecorder, PollsOfTheSameByteMakeOneByteLineTimedFromItsFirstPollToTheNextBytes) {
  Trace trace;
  trace.recorder().Begin(1000, "", "", "", false);
  uint32_t tick = trace.Polls(0xFF, 5, 1000);  // 1000..1080
  tick = trace.Polls(0xD8, 3, tick);           // 1100..1140
  tick = trace.Polls(0xD9, 1, tick);           // 1160
  tick = trace.Polls(0xFF, 2, tick);           // 1180..1200
  trace.recorder().End(tick + 7, false);       // 1227; the last byte line ends at its last poll
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 100ms", "raw 0xD8 60ms", "raw 0xD9 20ms", "raw 0xFF 40ms",
                                        "# end of run, 0.227s after it began"));
}

TEST(TraceRecorder, ReportsAreCommentsTimedFromTheRunsBeginningInTheOrderTheyCame) {
  Trace trace;
  trace.recorder().Begin(500, "", "", "", false);
  trace.Polls(0xFF, 2, 500);
  trace.recorder().OnPoll(0xD8, 540);
  trace.recorder().OnReport("Kolvane_ChannelUp", false, 541);
  trace.recorder().OnPoll(0xD9, 560);
  trace.recorder().OnPoll(0xD9, 12840);
  trace.recorder().OnReport("Kolvane_ChannelUp", true, 12845);
  trace.recorder().End(12860, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 40ms", "# 0.041s Kolvane_ChannelUp fresh", "raw 0xD8 20ms",
                                        "# 12.340s poll 12260ms late", "# 12.345s Kolvane_ChannelUp repeat",
                                        "raw 0xD9 12300ms", "# end of run, 12.360s after it began"));
}

TEST(TraceRecorder, TheEndGivesTheLastByteAtLeastOneMillisecondAndSaysWhenTheRunWasGivenUp) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().OnPoll(0x68, 20);
  trace.recorder().End(20, true);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0x68 1ms", "# end of run, 0.020s after it began, given up by Stop"));
}

// A host call held the thread for six seconds after the last poll, and Stop
// gave it up: the byte's polls span 140 ms, so its byte line lasts until the
// next poll would have come, 160 ms, not 6160.
TEST(TraceRecorder, TheLastByteLineEndsAPollAfterTheLastPollThatSawItsByteNotWhenTheThreadEnded) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  const uint32_t tick = trace.Polls(0xD8, 8, 20);  // 20..160
  trace.recorder().End(tick + 6000, true);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xD8 160ms", "# end of run, 6.180s after it began, given up by Stop"));
}

TEST(TraceRecorder, ARunWithNoPollEndsWithTheClosingCommentAlone) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().End(3, false);
  EXPECT_THAT(trace.Body(), ElementsAre("# end of run, 0.003s after it began"));
}

// A host's OnKey held the thread after a report: the next poll came 300 ms
// after its period, and the comment says when it came and by how much.
TEST(TraceRecorder, APollAWholePeriodLateIsNotedWithWhenItCameAndHowLate) {
  Trace trace;
  trace.recorder().Begin(1000, "", "", "", false);
  uint32_t tick = trace.Polls(0xFF, 2, 1020);  // 1020, 1040
  trace.recorder().OnPoll(0xD8, tick);         // 1060
  trace.recorder().OnReport("Kolvane_ChannelUp", false, tick);
  trace.recorder().OnPoll(0xD8, tick + 320);  // 1380: 300 ms late
  trace.recorder().OnPoll(0xFF, tick + 340);
  trace.recorder().End(tick + 340, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 40ms", "# 0.060s Kolvane_ChannelUp fresh", "# 0.380s poll 300ms late",
                                        "raw 0xD8 340ms", "raw 0xFF 1ms", "# end of run, 0.400s after it began"));
}

// One period late is the least that is noted; a poll a little late is the
// sleep's own jitter. The first poll is due a period after the run began.
TEST(TraceRecorder, APollIsLateFromOnePeriodAfterItsDueTimeNotBefore) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().OnPoll(0xFF, 39);   // the first poll, 19 ms late
  trace.recorder().OnPoll(0xFF, 78);   // 19 ms late
  trace.recorder().OnPoll(0xFF, 118);  // 20 ms late
  trace.recorder().OnPoll(0xD8, 157);  // 19 ms late, with a new byte
  trace.recorder().OnPoll(0xD8, 197);  // 20 ms late
  EXPECT_THAT(trace.Body(), ElementsAre("# 0.118s poll 20ms late", "raw 0xFF 118ms", "# 0.197s poll 20ms late"));
  Trace late;
  late.recorder().Begin(0, "", "", "", false);
  late.recorder().OnPoll(0xFF, 40);
  EXPECT_THAT(late.Body(), ElementsAre("# 0.040s poll 20ms late"));
}

TEST(TraceRecorder, ALatePollAcrossTheTickWrapIsTimedRight) {
  Trace trace;
  const uint32_t start = 0xFFFFFFF0u;
  trace.recorder().Begin(start, "", "", "", false);
  trace.recorder().OnPoll(0xFF, start + 20);
  trace.recorder().OnPoll(0xFF, start + 540);  // 500 ms late, past the wrap
  EXPECT_THAT(trace.Body(), ElementsAre("# 0.540s poll 500ms late"));
}

TEST(TraceRecorder, AByteHeldLongerThanAScriptStepAllowsTakesSeveralByteLines) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().OnPoll(0xFF, 0);
  trace.recorder().OnPoll(0x48, 2 * kScriptMaxDurationMs + 40);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 3600000ms", "raw 0xFF 3600000ms", "raw 0xFF 40ms",
                                        "# 7200.040s poll 7200020ms late"));
}

// The file keeps an idle spell's timing even if the run never ends (a crash).
TEST(TraceRecorder, AByteThatStaysIsWrittenAByteLineAnHourWithoutWaitingForTheNextByte) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "", false);
  uint32_t tick = trace.Polls(0xFF, kScriptMaxDurationMs / kPollMs, 0);  // 0 .. 1 h - 20 ms
  EXPECT_THAT(trace.Body(), ElementsAre());
  tick = trace.Polls(0xFF, 1, tick);  // exactly 1 h: still one byte line under way
  EXPECT_THAT(trace.Body(), ElementsAre());
  tick = trace.Polls(0xFF, 1, tick);  // 1 h 20 ms
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 3600000ms"));
  tick = trace.Polls(0xFF, kScriptMaxDurationMs / kPollMs, tick);  // 2 h 20 ms
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 3600000ms", "raw 0xFF 3600000ms"));
  trace.recorder().OnPoll(0xD8, tick);
  trace.recorder().End(tick, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 3600000ms", "raw 0xFF 3600000ms", "raw 0xFF 40ms", "raw 0xD8 1ms",
                                        "# end of run, 7200.040s after it began"));
}

TEST(TraceRecorder, ARunAcrossTheTickWrapKeepsItsDurationsAndTimes) {
  Trace trace;
  const uint32_t start = 0xFFFFFFF0u;
  trace.recorder().Begin(start, "", "", "", false);
  trace.recorder().OnPoll(0xFF, start);
  trace.recorder().OnPoll(0x58, start + 20);  // 4 after the wrap
  trace.recorder().OnReport("Kolvane_VolumeUp", false, start + 21);
  trace.recorder().OnPoll(0x58, start + 40);
  trace.recorder().End(start + 60, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 20ms", "# 0.021s Kolvane_VolumeUp fresh", "raw 0x58 40ms",
                                        "# end of run, 0.060s after it began"));
}

TEST(TraceRecorder, StopsAtItsCapacityWithALastCommentSayingSoAndWritesNothingAfter) {
  const uint64_t capacity = 400;
  Trace trace(capacity);
  trace.recorder().Begin(0, "", "", "", false);
  uint32_t tick = 0;
  for (uint32_t byte = 0; byte < 40; ++byte) tick = trace.Polls(byte, 1, tick);
  trace.recorder().OnReport("Kolvane_TV", false, tick);
  trace.recorder().End(tick, false);

  EXPECT_TRUE(trace.recorder().full());
  EXPECT_LE(trace.size(), capacity);
  EXPECT_EQ(trace.lines().back(), "# trace stopped: the file reached its size cap of 400 bytes");
  const std::vector<std::string> body = trace.Body();
  ASSERT_GT(body.size(), 2u);
  for (size_t i = 0; i + 1 < body.size(); ++i) EXPECT_THAT(body[i], StartsWith("raw ")) << "line " << i;
}

TEST(TraceRecorder, WithNoRoomEvenForTheLastCommentWritesNothing) {
  Trace trace(10);
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().End(5, false);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_TRUE(trace.recorder().full());
}

TEST(TraceRecorder, TheCapCountsWhatTheFileHeldAndWhatOthersAddDuringTheRun) {
  const uint64_t cap = 1000;
  Trace trace(cap);
  trace.AddedByOthers(300);
  trace.recorder().Begin(0, "", "", "", false);
  uint32_t tick = trace.Polls(0xFF, 1, 0);
  trace.AddedByOthers(400);
  for (uint32_t byte = 0; byte < 40; ++byte) tick = trace.Polls(byte, 1, tick);
  trace.recorder().End(tick, false);

  EXPECT_TRUE(trace.recorder().full());
  EXPECT_LE(trace.size(), cap);
  EXPECT_GT(trace.size() + 20, cap) << "it stops only where the next line would not fit";
  EXPECT_EQ(trace.lines().back(), "# trace stopped: the file reached its size cap of 1000 bytes");
}

TEST(TraceRecorder, AFailedWriteEndsTheTraceAndNothingMoreIsTried) {
  Trace trace;
  trace.FailAppendsAfter(3);
  trace.recorder().Begin(0, "", "", "", false);
  uint32_t tick = 0;
  for (uint32_t byte = 0; byte < 10; ++byte) tick = trace.Polls(byte, 1, tick);
  trace.recorder().OnReport("Kolvane_TV", false, tick);
  trace.recorder().End(tick, false);
  EXPECT_TRUE(trace.recorder().failed());
  EXPECT_EQ(trace.appendCalls(), 4);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0x00 20ms"));
}

TEST(TraceRecorder, ASizeThatCannotBeToldEndsTheTraceBeforeAnyWrite) {
  Trace trace;
  trace.FailSize();
  trace.recorder().Begin(0, "", "", "", false);
  trace.recorder().End(0, false);
  EXPECT_TRUE(trace.recorder().failed());
  EXPECT_EQ(trace.appendCalls(), 0);
}

TEST(TraceRecorder, AFileEndingMidLineGetsALineEndBeforeTheHeader) {
  Trace trace;
  trace.recorder().Begin(0, "2026-12-09 02:13:27", "1.0.0", "linux x86_64", true);
  ASSERT_EQ(trace.lines().size(), 3u);
  EXPECT_EQ(trace.lines()[0], "");
  EXPECT_THAT(trace.lines()[1], StartsWith("# kolvane 1.0.0 trace"));
}

TEST(TraceRecorder, TheRealCapIsAnnouncedAsEightMiB) {
  Trace trace;
  trace.AddedByOthers(kTraceSizeCap - 100);
  trace.recorder().Begin(0, "2026-12-09 02:13:27", "1.0.0", "linux x86_64", false);
  EXPECT_TRUE(trace.recorder().full());
  EXPECT_THAT(trace.lines(), ElementsAre("# trace stopped: the file reached its size cap of 8 MiB"));
}

TEST(TraceRecorder, AFileEndsCappedOnlyWhenItsLastLineIsTheCapCommentOfItsCap) {
  const std::string comment = "# trace stopped: the file reached its size cap of 8 MiB\n";
  const auto endsCapped = [](const std::string& tail, uint64_t cap = kTraceSizeCap) {
    return TraceRecorder::EndsCapped(tail.data(), tail.size(), cap);
  };
  EXPECT_TRUE(endsCapped(comment));
  EXPECT_TRUE(endsCapped("raw 0xFF 20ms\n" + comment));
  EXPECT_FALSE(endsCapped(comment + "raw 0xFF 20ms\n"));
  EXPECT_FALSE(endsCapped(comment.substr(1)));
  EXPECT_FALSE(endsCapped(""));
  EXPECT_TRUE(endsCapped("# trace stopped: the file reached its size cap of 400 bytes\n", 400));
  EXPECT_FALSE(endsCapped(comment, 400));
}

TEST(FormatTraceCap, SaysTheCapInTheLargestWholeUnit) {
  const auto text = [](uint64_t cap) {
    char capText[kTraceCapTextSize];
    FormatTraceCap(cap, capText);
    return std::string(capText);
  };
  EXPECT_EQ(text(8388608), "8 MiB");
  EXPECT_EQ(text(1572864), "1536 KiB");
  EXPECT_EQ(text(12288), "12 KiB");
  EXPECT_EQ(text(400), "400 bytes");
  EXPECT_EQ(text(1025), "1025 bytes");
  EXPECT_EQ(text(0), "0 bytes");
  EXPECT_EQ(text(UINT64_MAX), "18446744073709551615 bytes");
}

}  // namespace
}  // namespace kolvane
