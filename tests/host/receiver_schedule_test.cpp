#include <string>
#include <utility>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/script/receiver_schedule.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// The receiver's bytes as (time, byte) pairs.
std::vector<std::pair<uint64_t, int>> Bytes(const std::string& text, uint64_t* lengthMs = nullptr) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "test", &script, &errors));
  const ReceiverSchedule schedule = BuildReceiverSchedule(script);
  if (lengthMs != nullptr) *lengthMs = schedule.lengthMs;
  std::vector<std::pair<uint64_t, int>> bytes;
  for (const ReceiverChange& change : schedule.changes) bytes.emplace_back(change.atMs, change.byte);
  return bytes;
}

TEST(ReceiverSchedule, PressShowsTheCodeForFivePollsThenIdle) {
  uint64_t length = 0;
  EXPECT_THAT(Bytes("press ChannelUp\n", &length), ElementsAre(Pair(0u, 0xD8), Pair(100u, 0xFF)));
  EXPECT_EQ(length, 200u) << "idle long enough after a release for the same key to press again";
}

TEST(ReceiverSchedule, PressForLongerKeepsTheCodeWithoutHolding) {
  EXPECT_THAT(Bytes("press 7 400ms\n"), ElementsAre(Pair(0u, 0xE0), Pair(400u, 0xFF)));
}

TEST(ReceiverSchedule, HoldShowsTheCodeThenTheHeldStateThenIdle) {
  uint64_t length = 0;
  EXPECT_THAT(Bytes("hold VolumeUp 1.2s\n", &length), ElementsAre(Pair(0u, 0x58), Pair(100u, 0x59), Pair(1200u, 0xFF)));
  EXPECT_EQ(length, 1300u);
}

TEST(ReceiverSchedule, HoldOfLeftKeepsCodeZeroDistinctFromIdle) {
  EXPECT_THAT(Bytes("hold Left 500ms\n"), ElementsAre(Pair(0u, 0x00), Pair(100u, 0x01), Pair(500u, 0xFF)));
}

TEST(ReceiverSchedule, StepsFollowOneAnotherWithoutGaps) {
  uint64_t length = 0;
  EXPECT_THAT(Bytes("press 1\nwait 300ms\nraw 0x6C 60ms\nraw 0xD9 1s\npress 1\n", &length),
              ElementsAre(Pair(0u, 0x80), Pair(100u, 0xFF),  // press 1
                          Pair(200u, 0xFF),                  // wait
                          Pair(500u, 0x6C),                  // raw
                          Pair(560u, 0xD9),                  // raw, no idle between
                          Pair(1560u, 0x80), Pair(1660u, 0xFF)));
  EXPECT_EQ(length, 1760u);
}

TEST(ReceiverSchedule, EachStepBeginsAtItsFirstChange) {
  Script script;
  std::vector<std::string> errors;
  ASSERT_TRUE(ParseScript("hold 2 300ms\nwait 1s\n", "test", &script, &errors));
  const ReceiverSchedule schedule = BuildReceiverSchedule(script);
  std::vector<int> steps;
  for (const ReceiverChange& change : schedule.changes) steps.push_back(change.step);
  EXPECT_THAT(steps, ElementsAre(0, -1, -1, 1));
}

TEST(ReceiverSchedule, AScriptLongerThanAThirtyTwoBitCountOfMillisecondsKeepsCounting) {
  std::string text;
  for (int hour = 0; hour < 1200; ++hour) text += "wait 3600s\n";  // 50 days
  text += "press 1\n";
  uint64_t length = 0;
  const std::vector<std::pair<uint64_t, int>> bytes = Bytes(text, &length);
  ASSERT_EQ(bytes.size(), 1202u);
  EXPECT_EQ(bytes[1200], std::make_pair(uint64_t{4320000000}, 0x80));
  EXPECT_EQ(length, uint64_t{4320000200});
}

TEST(ReceiverSchedule, ATraceStartsWithItsFirstByteAScriptIdle) {
  Script script;
  std::vector<std::string> errors;
  ASSERT_TRUE(ParseScript("# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\nraw 0xD8 300ms\n", "test",
                          &script, &errors));
  EXPECT_EQ(BuildReceiverSchedule(script).startByte, 0xD8) << "the key was down when the module started";
  ASSERT_TRUE(ParseScript("raw 0xD8 300ms\n", "test", &script, &errors));
  EXPECT_EQ(BuildReceiverSchedule(script).startByte, 0xFF) << "a script's first press counts";
}

}  // namespace
}  // namespace host
}  // namespace kolvane
