#include <string>
#include <utility>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/receiver_schedule.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// The receiver's bytes as (time, byte) pairs.
std::vector<std::pair<uint32_t, int>> Bytes(const std::string& text, uint32_t* lengthMs = nullptr) {
  Script script;
  std::vector<std::string> errors;
  EXPECT_TRUE(ParseScript(text, "test", &script, &errors));
  const ReceiverSchedule schedule = BuildReceiverSchedule(script);
  if (lengthMs != nullptr) *lengthMs = schedule.lengthMs;
  std::vector<std::pair<uint32_t, int>> bytes;
  for (const ReceiverChange& change : schedule.changes) bytes.emplace_back(change.atMs, change.byte);
  return bytes;
}

TEST(ReceiverSchedule, PressShowsTheCodeForFivePollsThenIdle) {
  uint32_t length = 0;
  EXPECT_THAT(Bytes("press ChannelUp\n", &length), ElementsAre(Pair(0u, 0xD8), Pair(100u, 0xFF)));
  EXPECT_EQ(length, 200u) << "idle long enough after a release for the same key to press again";
}

TEST(ReceiverSchedule, PressForLongerKeepsTheCodeWithoutHolding) {
  EXPECT_THAT(Bytes("press 7 400ms\n"), ElementsAre(Pair(0u, 0xE0), Pair(400u, 0xFF)));
}

TEST(ReceiverSchedule, HoldShowsTheCodeThenTheHeldStateThenIdle) {
  uint32_t length = 0;
  EXPECT_THAT(Bytes("hold VolumeUp 1.2s\n", &length), ElementsAre(Pair(0u, 0x58), Pair(100u, 0x59), Pair(1200u, 0xFF)));
  EXPECT_EQ(length, 1300u);
}

TEST(ReceiverSchedule, HoldOfLeftKeepsCodeZeroDistinctFromIdle) {
  EXPECT_THAT(Bytes("hold Left 500ms\n"), ElementsAre(Pair(0u, 0x00), Pair(100u, 0x01), Pair(500u, 0xFF)));
}

TEST(ReceiverSchedule, StepsFollowOneAnotherWithoutGaps) {
  uint32_t length = 0;
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

}  // namespace
}  // namespace host
}  // namespace kolvane
