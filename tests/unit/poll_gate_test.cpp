// The hand-over between a module object and its poll thread, step by step.
#include "module/poll_gate.h"

#include "gtest/gtest.h"

namespace kolvane {
namespace {

TEST(PollGate, ANormalRunNeverHandsAnythingToTheThread) {
  PollGate gate;
  gate.Arm();
  EXPECT_TRUE(gate.IsLive());
  ASSERT_TRUE(gate.Enter());
  EXPECT_TRUE(gate.Leave());
  EXPECT_FALSE(gate.Exit());  // not orphaned: the thread frees nothing
  EXPECT_FALSE(gate.IsLive());
  EXPECT_FALSE(gate.Abandon().threadClosesEvent);  // thread gone: Stop closes the event
  EXPECT_FALSE(gate.Orphan());                     // and Release deletes the object
}

TEST(PollGate, AbandonedBetweenSectionsStartsNoOtherSection) {
  PollGate gate;
  gate.Arm();
  ASSERT_TRUE(gate.Enter());
  ASSERT_TRUE(gate.Leave());
  EXPECT_FALSE(gate.Abandon().threadClosesEvent);  // not inside: Stop closes the event itself
  EXPECT_FALSE(gate.Enter());
  EXPECT_TRUE(gate.IsLive());
}

TEST(PollGate, AbandonedInsideASectionHandsTheEventToTheThread) {
  PollGate gate;
  gate.Arm();
  ASSERT_TRUE(gate.Enter());
  EXPECT_TRUE(gate.Abandon().threadClosesEvent);
  EXPECT_FALSE(gate.Leave());  // the thread closes the event
  EXPECT_FALSE(gate.Enter());
}

TEST(PollGate, OrphanedWhileLiveTheThreadDeletesAfterItExits) {
  PollGate gate;
  gate.Arm();
  gate.Abandon();
  EXPECT_TRUE(gate.Orphan());
  EXPECT_TRUE(gate.Exit());
}

TEST(PollGate, ExitBeforeOrphanLeavesTheDeleteToRelease) {
  PollGate gate;
  gate.Arm();
  gate.Abandon();
  EXPECT_FALSE(gate.Exit());
  EXPECT_FALSE(gate.Orphan());
}

TEST(PollGate, ArmingAfterAFinishedThreadStartsAfresh) {
  PollGate gate;
  gate.Arm();
  gate.Exit();
  gate.Abandon();
  gate.Arm();
  EXPECT_TRUE(gate.Enter());
  EXPECT_TRUE(gate.Leave());
}

TEST(PollGate, DisarmedAfterAFailedThreadCreation) {
  PollGate gate;
  gate.Arm();
  gate.Disarm();
  EXPECT_FALSE(gate.IsLive());
  EXPECT_FALSE(gate.Abandon().threadClosesEvent);
  EXPECT_FALSE(gate.Orphan());
}

TEST(PollGate, TheHandleIsStopsToCloseOnlyOncePublished) {
  PollGate gate;
  gate.Arm();
  EXPECT_FALSE(gate.Publish());
  EXPECT_TRUE(gate.Abandon().handlePublished);
}

TEST(PollGate, AStopOnThePollThreadBeforePublishLeavesTheHandleToStart) {
  PollGate gate;
  gate.Arm();
  ASSERT_TRUE(gate.Enter());  // the host's QueryInterface, still inside Start
  EXPECT_FALSE(gate.Abandon().handlePublished);
  EXPECT_TRUE(gate.Publish());  // Start closes the handle
}

}  // namespace
}  // namespace kolvane
