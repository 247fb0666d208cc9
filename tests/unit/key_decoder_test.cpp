// The receiver byte decoder on a virtual clock: fresh presses, repeats
// of held keys, the 200 ms repeat delay to the millisecond, the tick
// counter's 2^32 wrap and polls that come late.
#include "receiver/key_decoder.h"

#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "receiver/remote_keys.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kNothing = -1;
constexpr uint32_t kPollMs = 20;
constexpr uint32_t kIdle = 0xFF;  // no key: every bit set, bit 0 among them

struct Report {
  uint32_t tick;
  uint32_t code;
  bool operator==(const Report& other) const { return tick == other.tick && code == other.code; }
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
  return out << "{tick " << report.tick << ", code 0x" << std::hex << report.code << std::dec << "}";
}

// Polls the decoder on a virtual clock: the clock stands at the poll's tick
// and moves on while the sink takes a report.
class VirtualPolls {
 public:
  explicit VirtualPolls(uint32_t startTick) : decoder_(startTick), tick_(startTick) {}

  // Polls `byte` at tick `at`; a report keeps the sink `sinkMs` busy.
  // Returns the reported code, or kNothing.
  int PollAt(uint32_t at, uint32_t byte, uint32_t sinkMs = 0) {
    tick_ = at;
    const KeyDecoder::PollResult result = decoder_.Poll(
        byte, [this] { return tick_; },
        [&](const KeyDecoder::PollResult& polled, uint32_t now) {
          if (!polled.report) return;
          reports_.push_back(Report{now, polled.code});
          tick_ += sinkMs;
        });
    return result.report ? static_cast<int>(result.code) : kNothing;
  }

  // Polls `byte` `ms` after the previous clock read.
  int PollIn(uint32_t ms, uint32_t byte, uint32_t sinkMs = 0) { return PollAt(tick_ + ms, byte, sinkMs); }

  // Polls `byte` every 20 ms, `polls` times; returns the reports made meanwhile.
  std::vector<Report> Hold(uint32_t byte, int polls) {
    const size_t before = reports_.size();
    for (int i = 0; i < polls; ++i) PollIn(kPollMs, byte);
    return std::vector<Report>(reports_.begin() + static_cast<std::ptrdiff_t>(before), reports_.end());
  }

  const std::vector<Report>& reports() const { return reports_; }
  const KeyDecoder& decoder() const { return decoder_; }

 private:
  KeyDecoder decoder_;
  uint32_t tick_;
  std::vector<Report> reports_;
};

// Ticks just before the 2^32 wrap, written as distances from it.
constexpr uint32_t BeforeWrap(uint32_t ms) { return 0u - ms; }

// --- One poll: the clock, the report, the repeat mark ----------------------

// What one poll did, in order: "clock" for each read of the clock, "report"
// for the handler.
struct PollCalls {
  std::vector<std::string> calls;
  uint32_t tick;
  KeyDecoder::PollResult Poll(KeyDecoder& decoder, uint32_t byte, uint32_t sinkMs) {
    calls.clear();
    return decoder.Poll(
        byte,
        [this] {
          calls.emplace_back("clock");
          return tick;
        },
        [&](const KeyDecoder::PollResult&, uint32_t now) {
          calls.emplace_back("report at " + std::to_string(now));
          tick += sinkMs;
        });
  }
};

TEST(KeyDecoderPoll, APressIsHandledAtThePollsTickAndTheMarkIsReadAfterTheSinkReturned) {
  KeyDecoder decoder(1000);
  PollCalls poll{{}, 1020};
  poll.Poll(decoder, kIdle, 0);
  poll.tick = 1040;
  const KeyDecoder::PollResult result = poll.Poll(decoder, 0x68, 30);
  EXPECT_TRUE(result.report);
  EXPECT_THAT(poll.calls, ElementsAre("clock", "report at 1040", "clock"));
  EXPECT_EQ(decoder.markTick(), 1070u);  // the sink's 30 ms do not count toward a repeat
}

TEST(KeyDecoderPoll, AHeldPollThatDoesNotRepeatReadsTheClockOnceAndKeepsTheMark) {
  KeyDecoder decoder(1000);
  PollCalls poll{{}, 1020};
  poll.Poll(decoder, 0x69, 30);
  EXPECT_THAT(poll.calls, ElementsAre("clock", "report at 1020"));
  EXPECT_EQ(decoder.markTick(), 1000u);
}

TEST(KeyDecoderPoll, ARepeatRenewsTheMarkAtTheSecondClockRead) {
  KeyDecoder decoder(1000);
  PollCalls poll{{}, 1020};
  poll.Poll(decoder, 0x69, 0);
  poll.tick = 1201;
  EXPECT_TRUE(poll.Poll(decoder, 0x69, 9).report);
  EXPECT_THAT(poll.calls, ElementsAre("clock", "report at 1201", "clock"));
  EXPECT_EQ(decoder.markTick(), 1210u);
}

// --- Fresh presses -------------------------------------------------------

TEST(KeyDecoderPress, AChangeToAClearByteIsReportedOnceOnItsFirstPoll) {
  VirtualPolls polls(1000);
  for (uint32_t byte : {0xFFu, 0x68u, 0x68u, 0xFFu}) polls.PollIn(kPollMs, byte);
  EXPECT_THAT(polls.reports(), ElementsAre(Report{1040, 0x68}));
}

TEST(KeyDecoderPress, NothingIsReportedBeforeAByteWithBit0SetIsSeen) {
  VirtualPolls polls(1000);
  EXPECT_THAT(polls.Hold(0x68, 100), IsEmpty());  // two seconds of a clear byte
  for (uint32_t byte : {0xD8u, 0x00u, 0x68u}) EXPECT_EQ(polls.PollIn(kPollMs, byte), kNothing);
  EXPECT_EQ(polls.decoder().lastByte(), -1);

  polls.PollIn(kPollMs, 0x69);
  EXPECT_EQ(polls.PollIn(kPollMs, 0x68), 0x68);
}

TEST(KeyDecoderPress, EachChangeBetweenClearBytesIsAPress) {
  VirtualPolls polls(1000);
  for (uint32_t byte : {kIdle, 0x68u, 0xD8u, 0xD8u, 0x68u, 0x00u}) polls.PollIn(kPollMs, byte);
  EXPECT_THAT(polls.reports(),
              ElementsAre(Report{1040, 0x68}, Report{1060, 0xD8}, Report{1100, 0x68}, Report{1120, 0x00}));
}

TEST(KeyDecoderPress, Bit2IsDroppedFromTheCodeButStillChangesTheByte) {
  VirtualPolls polls(1000);
  polls.PollIn(kPollMs, kIdle);
  EXPECT_EQ(polls.PollIn(kPollMs, 0x6C), 0x68);
  EXPECT_EQ(polls.PollIn(kPollMs, 0x68), 0x68);  // a different byte: a second press
}

TEST(KeyDecoderPress, Bit1StaysInTheCodeSoNoKeyMatches) {
  VirtualPolls polls(1000);
  polls.PollIn(kPollMs, kIdle);
  EXPECT_EQ(polls.PollIn(kPollMs, 0x6E), 0x6A);
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, 0x6A), nullptr);
}

TEST(KeyDecoderPress, TheClearFormOfAHeldKeyIsAFreshPress) {
  VirtualPolls polls(1000);
  polls.PollIn(kPollMs, kIdle);
  EXPECT_EQ(polls.PollIn(kPollMs, 0xD8), 0xD8);
  EXPECT_EQ(polls.PollIn(kPollMs, 0xD9), kNothing);
  EXPECT_EQ(polls.PollIn(kPollMs, 0xD8), 0xD8);
}

// --- Repeat --------------------------------------------------------------

TEST(KeyDecoderRepeat, TheFirstHeldPollOnlyRecordsTheByteEvenLongAfterTheMark) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);                       // clear poll: mark 1020
  EXPECT_EQ(polls.PollAt(1520, 0x69), kNothing);  // 500 ms on, but the byte is new
  EXPECT_EQ(polls.PollAt(1540, 0x69), 0x68);
}

TEST(KeyDecoderRepeat, TheFirstRepeatComesMoreThan200msAfterTheLastClearPollsMark) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68, 5);  // the sink returns at 1025: the mark
  EXPECT_EQ(polls.PollAt(1040, 0x69), kNothing);
  EXPECT_EQ(polls.PollAt(1221, 0x69), kNothing);  // 201 ms after the poll's own tick, 196 after the mark
  EXPECT_EQ(polls.PollAt(1225, 0x69), kNothing);  // exactly 200 ms
  EXPECT_EQ(polls.PollAt(1226, 0x69), 0x68);      // 201 ms
}

TEST(KeyDecoderRepeat, AClearPollWithoutAReportStillRenewsTheMark) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  EXPECT_EQ(polls.PollAt(1150, 0x68), kNothing);  // same byte: no report, new mark 1150
  EXPECT_EQ(polls.PollAt(1170, 0x69), kNothing);
  EXPECT_EQ(polls.PollAt(1300, 0x69), kNothing);  // 280 ms after the press, 150 after the mark
  EXPECT_EQ(polls.PollAt(1350, 0x69), kNothing);
  EXPECT_EQ(polls.PollAt(1351, 0x69), 0x68);
}

TEST(KeyDecoderRepeat, AHeldKeyRepeatsAtTheFirstPollMoreThan200msAfterThePreviousReport) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  // Polls every 20 ms: 200 ms after a report is a poll, but not yet a repeat.
  EXPECT_THAT(polls.Hold(0x69, 70), ElementsAre(Report{1240, 0x68}, Report{1460, 0x68}, Report{1680, 0x68},
                                                Report{1900, 0x68}, Report{2120, 0x68}, Report{2340, 0x68}));
}

TEST(KeyDecoderRepeat, EachRepeatRestartsTheTimerAtTheTickReadAfterIt) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  polls.PollAt(1040, 0x69);
  EXPECT_EQ(polls.PollAt(1221, 0x69, 7), 0x68);   // the sink returns at 1228
  EXPECT_EQ(polls.PollAt(1422, 0x69), kNothing);  // 201 ms after the report's poll
  EXPECT_EQ(polls.PollAt(1428, 0x69), kNothing);  // exactly 200 ms after the sink returned
  EXPECT_EQ(polls.PollAt(1429, 0x69), 0x68);
}

TEST(KeyDecoderRepeat, ExactlyTwoHundredMsIsNotARepeatButTwoHundredAndOneIs) {
  for (uint32_t startTick : {0u, 1u, 123456u, 0x7FFFFF00u, 0xFFFFFC00u}) {
    SCOPED_TRACE(::testing::Message() << "start tick " << startTick);
    VirtualPolls polls(startTick);
    EXPECT_EQ(polls.PollAt(startTick + 10, 0x69), kNothing);   // records the byte
    EXPECT_EQ(polls.PollAt(startTick + 200, 0x69), kNothing);  // the mark is the start tick
    EXPECT_EQ(polls.PollAt(startTick + 201, 0x69), 0x68);
    EXPECT_EQ(polls.PollAt(startTick + 401, 0x69), kNothing);
    EXPECT_EQ(polls.PollAt(startTick + 402, 0x69), 0x68);
  }
}

TEST(KeyDecoderRepeat, AnotherHeldByteKeepsTheMarkOfTheLastClearPoll) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);  // mark 1020
  EXPECT_EQ(polls.PollAt(1100, 0x69), kNothing);
  EXPECT_EQ(polls.PollAt(1150, 0xD9), kNothing);  // a new held byte: recorded only
  EXPECT_EQ(polls.PollAt(1220, 0xD9), kNothing);
  EXPECT_EQ(polls.PollAt(1221, 0xD9), 0xD8);  // 201 ms after the clear poll
}

TEST(KeyDecoderRepeat, Bits0And2AreDroppedFromARepeatedCode) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  EXPECT_EQ(polls.PollAt(1020, 0x6C), 0x68);
  polls.PollAt(1040, 0x6D);
  EXPECT_EQ(polls.PollAt(1221, 0x6D), 0x68);
}

TEST(KeyDecoderRepeat, AHeldIdleByteIsRedispatchedAs0xFAWhichNoKeyHas) {
  VirtualPolls polls(5000);  // held from the start: the mark is the start tick
  EXPECT_THAT(polls.Hold(kIdle, 50),
              ElementsAre(Report{5220, 0xFA}, Report{5440, 0xFA}, Report{5660, 0xFA}, Report{5880, 0xFA}));
  EXPECT_EQ(FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, 0xFA), nullptr);
}

// --- The 2^32 wrap of the tick counter ------------------------------------
// The sum form `tick > markTick + 200` would repeat at once when the sum
// wraps, and hold a repeat back for 49.7 days when only the tick does.

TEST(KeyDecoderTickWrap, EveryMarkAroundTheWrapRepeatsAfter201msAndNotBefore) {
  for (uint32_t mark = BeforeWrap(400); mark != 400; ++mark) {
    VirtualPolls polls(mark - 40);
    polls.PollAt(mark - 20, kIdle);
    ASSERT_EQ(polls.PollAt(mark, 0x68), 0x68);
    ASSERT_EQ(polls.PollAt(mark + 1, 0x69), kNothing);
    for (uint32_t elapsed = 2; elapsed <= 200; ++elapsed) {
      ASSERT_EQ(polls.PollAt(mark + elapsed, 0x69), kNothing) << "mark " << mark << ", " << elapsed << " ms on";
    }
    ASSERT_EQ(polls.PollAt(mark + 201, 0x69), 0x68) << "mark " << mark;
  }
}

TEST(KeyDecoderTickWrap, AMarkWhoseSumWrapsDoesNotRepeatAtOnce) {
  VirtualPolls polls(BeforeWrap(140));
  polls.PollAt(BeforeWrap(120), kIdle);
  polls.PollAt(BeforeWrap(100), 0x68);           // mark + 200 wraps to 100
  EXPECT_THAT(polls.Hold(0x69, 10), IsEmpty());  // up to tick 100, exactly 200 ms
  EXPECT_EQ(polls.PollAt(101, 0x69), 0x68);
  EXPECT_THAT(polls.reports(), ElementsAre(Report{BeforeWrap(100), 0x68}, Report{101, 0x68}));
}

TEST(KeyDecoderTickWrap, APollJustAfterTheWrapRepeatsWithoutWaitingAWholePeriod) {
  VirtualPolls polls(BeforeWrap(290));
  polls.PollAt(BeforeWrap(270), kIdle);
  polls.PollAt(BeforeWrap(250), 0x68);  // mark + 200 is still before the wrap
  EXPECT_EQ(polls.PollAt(BeforeWrap(230), 0x69), kNothing);
  EXPECT_EQ(polls.PollAt(BeforeWrap(50), 0x69), kNothing);  // exactly 200 ms
  EXPECT_EQ(polls.PollAt(10, 0x69), 0x68);                  // 260 ms, across the wrap
  EXPECT_EQ(polls.decoder().markTick(), 10u);
}

TEST(KeyDecoderTickWrap, RepeatsKeepTheirCadenceThroughTheWrap) {
  VirtualPolls polls(BeforeWrap(16));  // idle byte held from a start just before the wrap
  EXPECT_THAT(polls.Hold(kIdle, 35), ElementsAre(Report{204, 0xFA}, Report{424, 0xFA}, Report{644, 0xFA}));
}

// --- Polls that come late ------------------------------------------------

TEST(KeyDecoderLatePolls, APoll350msLateFiresOneRepeatNotSeveral) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  polls.Hold(0x69, 22);                                // repeats at 1240 and 1460, last poll at 1460
  EXPECT_EQ(polls.PollIn(kPollMs + 350, 0x69), 0x68);  // at 1830
  EXPECT_THAT(polls.Hold(0x69, 12), ElementsAre(Report{2050, 0x68}));
  EXPECT_EQ(polls.reports().size(), 5u);
}

TEST(KeyDecoderLatePolls, AJumpOfDaysFiresOneRepeatThenTheUsualCadence) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  polls.PollAt(1040, 0x69);
  const uint32_t threeDaysLater = 1040 + 3u * 24 * 3600 * 1000;
  EXPECT_EQ(polls.PollAt(threeDaysLater, 0x69), 0x68);
  EXPECT_THAT(polls.Hold(0x69, 11), ElementsAre(Report{threeDaysLater + 220, 0x68}));
}

TEST(KeyDecoderLatePolls, ASlowSinkPushesTheNextRepeatBack) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1020, 0x68);
  polls.PollAt(1040, 0x69);
  EXPECT_EQ(polls.PollAt(1240, 0x69, 300), 0x68);  // the sink returns at 1540
  EXPECT_THAT(polls.Hold(0x69, 11), ElementsAre(Report{1760, 0x68}));
}

TEST(KeyDecoderLatePolls, ACoarseTickCounterRepeatsAtItsFirstTickPastTheDelay) {
  VirtualPolls polls(1000);
  polls.PollAt(1000, kIdle);
  polls.PollAt(1000, 0x68);  // two polls within one 16 ms tick
  for (uint32_t tick = 1016; tick <= 1232; tick += 16) {
    polls.PollAt(tick, 0x69);
    polls.PollAt(tick, 0x69);
  }
  EXPECT_THAT(polls.reports(), ElementsAre(Report{1000, 0x68}, Report{1208, 0x68}));
}

}  // namespace
}  // namespace kolvane
