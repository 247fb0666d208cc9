// The trace of a poll loop's run on a virtual clock: equal bytes merged into
// one step, durations from the first poll of a byte to the first poll of the
// next, report comments timed from the run's start, the size cap, and a run
// across the tick counter's wrap.
#include "receiver/trace_recorder.h"

#include <stdint.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "receiver/trace_format.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr uint32_t kPollMs = 20;

// Collects what the recorder writes, line by line.
class Trace {
 public:
  explicit Trace(uint64_t capacity = kTraceSizeCap) : recorder_(&Trace::Write, this, capacity) {}

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
  uint64_t bytes() const { return bytes_; }

 private:
  static void Write(void* context, const char* text, size_t length) {
    auto* self = static_cast<Trace*>(context);
    EXPECT_EQ(text[length - 1], '\n') << "a line is written whole";
    self->lines_.emplace_back(text, length - 1);
    self->bytes_ += length;
  }

  TraceRecorder recorder_;
  std::vector<std::string> lines_;
  uint64_t bytes_ = 0;
};

TEST(TraceRecorder, HeaderNamesTheRunAndHowToReplayIt) {
  Trace trace;
  trace.recorder().Begin(0, "2026-12-09 02:13:27", "1.0.0", "linux x86_64");
  EXPECT_THAT(trace.lines(), ElementsAre("# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:13:27",
                                         StartsWith("# a kolvane-host script: replay it with 'kolvane-host FILE'")));
}

TEST(TraceRecorder, PollsOfTheSameByteMakeOneStepTimedFromItsFirstPollToTheNextBytes) {
  Trace trace;
  trace.recorder().Begin(1000, "", "", "");
  uint32_t tick = trace.Polls(0xFF, 5, 1000);  // 1000..1080
  tick = trace.Polls(0xD8, 3, tick);           // 1100..1140
  tick = trace.Polls(0xD9, 1, tick);           // 1160
  tick = trace.Polls(0xFF, 2, tick);           // 1180..1200
  trace.recorder().End(tick + 7, false);       // 1227
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 100ms", "raw 0xD8 60ms", "raw 0xD9 20ms", "raw 0xFF 47ms",
                                        "# end of run, 0.227s after it began"));
}

TEST(TraceRecorder, ReportsAreCommentsTimedFromTheRunsBeginningInTheOrderTheyCame) {
  Trace trace;
  trace.recorder().Begin(500, "", "", "");
  trace.Polls(0xFF, 2, 500);
  trace.recorder().OnPoll(0xD8, 540);
  trace.recorder().OnReport("Kolvane_ChannelUp", false, 541);
  trace.recorder().OnPoll(0xD9, 560);
  trace.recorder().OnReport("Kolvane_ChannelUp", true, 12845);
  trace.recorder().End(12860, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 40ms", "# 0.041s Kolvane_ChannelUp fresh", "raw 0xD8 20ms",
                                        "# 12.345s Kolvane_ChannelUp repeat", "raw 0xD9 12300ms",
                                        "# end of run, 12.360s after it began"));
}

TEST(TraceRecorder, TheEndGivesTheLastByteAtLeastOneMillisecondAndSaysWhenTheRunWasGivenUp) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "");
  trace.recorder().OnPoll(0x68, 20);
  trace.recorder().End(20, true);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0x68 1ms", "# end of run, 0.020s after it began, given up by Stop"));
}

TEST(TraceRecorder, ARunWithNoPollEndsWithTheClosingCommentAlone) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "");
  trace.recorder().End(3, false);
  EXPECT_THAT(trace.Body(), ElementsAre("# end of run, 0.003s after it began"));
}

TEST(TraceRecorder, AByteHeldLongerThanAScriptStepAllowsTakesSeveralSteps) {
  Trace trace;
  trace.recorder().Begin(0, "", "", "");
  trace.recorder().OnPoll(0xFF, 0);
  trace.recorder().OnPoll(0x48, 2 * kScriptMaxDurationMs + 40);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 3600000ms", "raw 0xFF 3600000ms", "raw 0xFF 40ms"));
}

TEST(TraceRecorder, ARunAcrossTheTickWrapKeepsItsDurationsAndTimes) {
  Trace trace;
  const uint32_t start = 0xFFFFFFF0u;
  trace.recorder().Begin(start, "", "", "");
  trace.recorder().OnPoll(0xFF, start);
  trace.recorder().OnPoll(0x58, start + 20);  // 4 after the wrap
  trace.recorder().OnReport("Kolvane_VolumeUp", false, start + 21);
  trace.recorder().End(start + 60, false);
  EXPECT_THAT(trace.Body(), ElementsAre("raw 0xFF 20ms", "# 0.021s Kolvane_VolumeUp fresh", "raw 0x58 40ms",
                                        "# end of run, 0.060s after it began"));
}

TEST(TraceRecorder, StopsAtItsCapacityWithALastCommentSayingSoAndWritesNothingAfter) {
  const uint64_t capacity = 400;
  Trace trace(capacity);
  trace.recorder().Begin(0, "", "", "");
  uint32_t tick = 0;
  for (uint32_t byte = 0; byte < 40; ++byte) tick = trace.Polls(byte, 1, tick);
  trace.recorder().OnReport("Kolvane_TV", false, tick);
  trace.recorder().End(tick, false);

  EXPECT_TRUE(trace.recorder().full());
  EXPECT_LE(trace.bytes(), capacity);
  EXPECT_EQ(trace.bytes(), trace.recorder().written());
  EXPECT_EQ(trace.lines().back(), "# trace stopped: the file reached its size cap of 8 MiB");
  const std::vector<std::string> body = trace.Body();
  ASSERT_GT(body.size(), 2u);
  for (size_t i = 0; i + 1 < body.size(); ++i) EXPECT_THAT(body[i], StartsWith("raw ")) << "line " << i;
}

TEST(TraceRecorder, WithNoRoomEvenForTheLastCommentWritesNothing) {
  Trace trace(10);
  trace.recorder().Begin(0, "", "", "");
  trace.recorder().End(5, false);
  EXPECT_TRUE(trace.lines().empty());
  EXPECT_TRUE(trace.recorder().full());
}

}  // namespace
}  // namespace kolvane
