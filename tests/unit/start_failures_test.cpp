// Start when the system refuses an event, a reference on the module's own
// image, a thread or memory: a clear result, references kept until Stop,
// nothing leaked (the sanitizer builds check the last part).
#include "gtest/gtest.h"
#include "kolvane/kolvane.h"
#include "platform/fault_injection.h"
#include "testbed/sim_card.h"
#include "tests/support/host_doubles.h"
#include "tests/support/scratch_directory.h"

namespace kolvane {
namespace {

using platform::Fault;
using test::MockKeySink;

class StartFailure : public ::testing::TestWithParam<Fault> {};

TEST_P(StartFailure, ReturnsUnexpectedStartsNoThreadAndStopGivesTheReferencesBack) {
  IRemoteModule* module = GetInterfacePtr();
  ASSERT_NE(module, nullptr);
  MockKeySink sink;
  testbed::SimCard device;

  platform::FailNext(GetParam());
  EXPECT_EQ(module->Start(&sink, device.host()), E_UNEXPECTED);
  EXPECT_EQ(sink.references(), 1);
  EXPECT_EQ(device.outstandingReferences(), 1u);                 // the module's own, nothing from a thread
  EXPECT_EQ(module->Start(&sink, device.host()), E_UNEXPECTED);  // still counts as started
  EXPECT_EQ(sink.references(), 1);

  EXPECT_EQ(module->Stop(), S_OK);
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(device.receiverPolls(), 0u);

  // The failure was passing: the next start works.
  EXPECT_EQ(module->Start(&sink, device.host()), S_OK);
  EXPECT_EQ(module->Release(), 0u);
  EXPECT_RELEASED(sink, device);
}

TEST_P(StartFailure, ReleaseWithoutStopGivesTheReferencesBack) {
  IRemoteModule* module = GetInterfacePtr();
  ASSERT_NE(module, nullptr);
  MockKeySink sink;
  testbed::SimCard device;
  platform::FailNext(GetParam());
  EXPECT_EQ(module->Start(&sink, device.host()), E_UNEXPECTED);
  EXPECT_EQ(module->Release(), 0u);
  EXPECT_RELEASED(sink, device);
}

const char* FaultName(const ::testing::TestParamInfo<Fault>& param) {
  switch (param.param) {
    case Fault::kEventCreation: return "EventCreation";
    case Fault::kThreadCreation: return "ThreadCreation";
    case Fault::kImageReference: return "ImageReference";
    case Fault::kAllocation:
    case Fault::kFileAppend: break;
  }
  return "Allocation";
}

INSTANTIATE_TEST_SUITE_P(EventThreadOrImage, StartFailure,
                         ::testing::Values(Fault::kEventCreation, Fault::kImageReference, Fault::kThreadCreation),
                         FaultName);

TEST(FactoryAllocationFailure, ReturnsNullAndLogsNothing) {
  test::RemoveLog();
  platform::FailNext(Fault::kAllocation);
  EXPECT_EQ(GetInterfacePtr(), nullptr);
  EXPECT_TRUE(test::ReadLogLines().empty());
}

}  // namespace
}  // namespace kolvane
