// The poll thread's trace on a real file with a write that fails midway (a
// full disk, by fault injection): the trace ends there with one log line,
// and the run goes on without it.
#include "module/poll_trace.h"

#include <stdio.h>

#include <fstream>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "kolvane/kolvane.h"
#include "platform/fault_injection.h"
#include "testbed/module_loader.h"
#include "tests/support/scratch_directory.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

std::vector<std::string> Lines(const char* path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

class PollTraceFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RemoveLog();
    ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "unit.trace"));
  }
  void TearDown() override {
    testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, nullptr);
    std::remove("unit.trace");
  }
  PollTraceFile file_{};
};

TEST_F(PollTraceFailure, AFailedWriteEndsTheTraceWithOneLogLine) {
  OpenPollTrace(&file_);
  ASSERT_NE(file_.file, nullptr);
  {
    PollTrace trace(file_, 0);
    trace.OnPoll(0xFF, 0);
    platform::FailNext(platform::Fault::kFileAppend);
    trace.OnPoll(0xD8, 20);  // the idle byte's step fails
    trace.OnReport("Kolvane_ChannelUp", false, 20);
    trace.OnPoll(0xFF, 40);
    trace.End(60, false);
  }
  EXPECT_THAT(Lines("unit.trace"), ElementsAre(StartsWith("# kolvane "), StartsWith("# a kolvane-host script")));
  EXPECT_THAT(test::ReadLogLines(), ElementsAre("kolvane: Cannot write the trace file unit.trace (is the disk full?); "
                                                "the trace of this run stops there."));
}

TEST_F(PollTraceFailure, AFailedFirstWriteLeavesTheFileAsItWasAndTheNextRunWritesAgain) {
  OpenPollTrace(&file_);
  ASSERT_NE(file_.file, nullptr);
  {
    platform::FailNext(platform::Fault::kFileAppend);
    PollTrace trace(file_, 0);
    trace.OnPoll(0xFF, 0);
    trace.End(20, false);
  }
  EXPECT_THAT(Lines("unit.trace"), ElementsAre());
  EXPECT_EQ(test::ReadLogLines().size(), 1u);

  OpenPollTrace(&file_);
  ASSERT_NE(file_.file, nullptr);
  {
    PollTrace trace(file_, 0);
    trace.OnPoll(0xFF, 0);
    trace.End(20, false);
  }
  EXPECT_THAT(Lines("unit.trace").back(), StartsWith("# end of run"));
  EXPECT_EQ(test::ReadLogLines().size(), 1u);
}

}  // namespace
}  // namespace kolvane
