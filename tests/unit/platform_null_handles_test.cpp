// platform.h's promise: every function that takes a handle takes a null one,
// and does nothing or fails, so cleanup paths need no checks of their own.
#include "gtest/gtest.h"
#include "platform/platform.h"

namespace kolvane {
namespace {

TEST(PlatformNullHandles, ANullEventIsNeverSignalledAndSignallingOrClosingItDoesNothing) {
  platform::SignalEvent(nullptr);
  EXPECT_FALSE(platform::IsEventSignaled(nullptr));
  platform::CloseEvent(nullptr);
}

TEST(PlatformNullHandles, ANullThreadHasEndedAndClosingItDoesNothing) {
  EXPECT_TRUE(platform::WaitForThread(nullptr, 0));
  platform::CloseThread(nullptr);
}

TEST(PlatformNullHandles, ANullFileFailsEveryCallAndClosingItDoesNothing) {
  uint64_t size = 12345;
  EXPECT_FALSE(platform::FileSize(nullptr, &size));
  EXPECT_EQ(size, 12345u);
  char buffer[8] = "unread";
  EXPECT_EQ(platform::ReadFileAt(nullptr, 0, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "unread");
  EXPECT_EQ(platform::AppendToFile(nullptr, "line\n", 5), platform::FileWrite::kFailed);
  EXPECT_FALSE(platform::CutFile(nullptr, 0));
  platform::CloseFile(nullptr);
}

TEST(PlatformNullHandles, ANullModuleImageIsGivenBackAsNothingAndEndsNoThread) {
  platform::ReleaseModuleImage(nullptr);
  platform::EndThreadReleasingModuleImage(nullptr);  // returns: this thread goes on
  SUCCEED();
}

}  // namespace
}  // namespace kolvane
