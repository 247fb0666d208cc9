// The trace through the loaded module: what KOLVANE_TRACE turns on, what a
// run writes, and what happens when the file cannot be used. The exact
// format and timing are proven on a virtual clock in the unit tests.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/module/trace_fixture.h"

namespace kolvane {
namespace test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> FilesHere() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
  return names;
}

TEST_F(Trace, ARunIsWrittenAsAScriptOfItsBytesWithItsReportsAndIsClosedAtStop) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  const std::vector<std::string> lines = Lines("run.trace");
  ASSERT_GE(lines.size(), 6u);
  EXPECT_THAT(lines[0], StartsWith("# kolvane "));
  EXPECT_THAT(lines[0], HasSubstr(" trace, "));
  // The first step; a comment may come before it, when a stalled machine made the first poll late.
  const auto firstStep =
      std::find_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("raw ", 0) == 0; });
  ASSERT_NE(firstStep, lines.end());
  EXPECT_THAT(*firstStep, StartsWith("raw 0xFF "));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("# "), EndsWith("s Kolvane_ChannelUp fresh"))));
  EXPECT_THAT(lines, Contains(StartsWith("raw 0xD8 ")));
  EXPECT_THAT(lines.back(), StartsWith("# end of run, "));
  EXPECT_THAT(lines.back(), ::testing::Not(HasSubstr("given up")));
  // Nothing but the module's own lines in the log.
  EXPECT_THAT(ReadLogLines(), ::testing::Each(::testing::Not(HasSubstr("trace"))));
}

// A sink that stops the module from inside OnKey, then keeps the call for
// `hold`: Stop gives up the poll thread, which still owns the trace and
// closes it when the call returns.
class StoppingSink : public KeyNames {
 public:
  explicit StoppingSink(IRemoteModule* module, std::chrono::milliseconds hold = std::chrono::milliseconds(0))
      : module_(module), hold_(hold) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override {
    KeyNames::OnKey(name, label);
    module_->Stop();
    std::this_thread::sleep_for(hold_);
    return S_OK;
  }

 private:
  IRemoteModule* const module_;
  const std::chrono::milliseconds hold_;
};

bool EndsTheRun(const std::vector<std::string>& lines) {
  return !lines.empty() && lines.back().rfind("# end of run", 0) == 0;
}

TEST_F(Trace, AGivenUpThreadStillEndsAndClosesItsTrace) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  StoppingSink sink(module_);
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] { return EndsTheRun(Lines("run.trace")); }));
  const std::vector<std::string> lines = Lines("run.trace");
  EXPECT_THAT(lines.back(), EndsWith(", given up by Stop"));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("# "), EndsWith("s Kolvane_ChannelUp fresh"))));
  EXPECT_TRUE(WaitUntil([&] { return device.outstandingReferences() == 0; }));
  EXPECT_RELEASED(sink);
}

// The byte the key came from was seen by one poll; the thread then waited
// in OnKey for a second and a half. The step ends at that poll.
TEST_F(Trace, AGivenUpRunTimesItsLastByteByThePollsThatSawItNotByTheWaitForTheThread) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  StoppingSink sink(module_, std::chrono::milliseconds(1500));
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] { return EndsTheRun(Lines("run.trace")); }));
  const std::vector<std::string> lines = Lines("run.trace");
  EXPECT_THAT(lines.back(), EndsWith(", given up by Stop"));
  const auto step =
      std::find_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("raw 0xD8 ", 0) == 0; });
  ASSERT_NE(step, lines.end());
  EXPECT_LT(std::stoi(step->substr(9)), 500) << *step;
  EXPECT_TRUE(WaitUntil([&] { return device.outstandingReferences() == 0; }));
  EXPECT_RELEASED(sink);
}

// Looks at the trace file when the first key arrives.
class TraceWatchingSink : public KeyNames {
 public:
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override {
    if (names().empty()) seen_ = Lines("run.trace");
    return KeyNames::OnKey(name, label);
  }
  const std::vector<std::string>& seen() const { return seen_; }

 private:
  std::vector<std::string> seen_;
};

TEST_F(Trace, AKeyReachesTheSinkBeforeAnyTraceLineOfItsPollIsWritten) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  TraceWatchingSink sink;
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] { return !sink.names().empty(); }));
  EXPECT_EQ(module_->Stop(), S_OK);
  // The idle byte's step ends at the poll that read the key: not written yet.
  EXPECT_THAT(sink.seen(), ::testing::Each(StartsWith("# "))) << "at the key, the file held only its header";
  EXPECT_THAT(Lines("run.trace"), Contains(StartsWith("raw 0xFF ")));
  EXPECT_RELEASED(sink, device);
}

TEST_F(Trace, EveryStartAppendsItsOwnRun) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
    const uint64_t polls = device.receiverPolls();
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 1; }));
    EXPECT_EQ(module_->Stop(), S_OK);
  }
  int headers = 0, ends = 0;
  for (const std::string& line : Lines("run.trace")) {
    headers += line.rfind("# kolvane ", 0) == 0;
    ends += line.rfind("# end of run", 0) == 0;
  }
  EXPECT_EQ(headers, 2);
  EXPECT_EQ(ends, 2);
}

TEST_F(Trace, UnsetOrEmptyTouchesNoFile) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, value));
    RemoveLog();
    const std::vector<std::string> before = FilesHere();
    PressChannelUp();
    std::vector<std::string> after = FilesHere();
    after.erase(std::remove(after.begin(), after.end(), "Quillfern.log"), after.end());
    EXPECT_EQ(after, before) << "KOLVANE_TRACE " << (value == nullptr ? "unset" : "empty");
  }
}

TEST_F(Trace, AFileThatCannotBeOpenedCostsTheTraceAndOneLogLineButNoKey) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "no-such-folder/run.trace"));
  PressChannelUp();
  EXPECT_THAT(ReadLogLines(),
              Contains("kolvane: Cannot open the trace file no-such-folder/run.trace; no trace is written."));
  EXPECT_FALSE(std::filesystem::exists("no-such-folder"));
}

TEST_F(Trace, AFileAlreadyAtTheSizeCapIsLeftAsItIs) {
  {
    std::ofstream full("run.trace", std::ios::binary);
    full << std::string(kTraceSizeCap, '#');
  }
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  EXPECT_EQ(std::filesystem::file_size("run.trace"), kTraceSizeCap);
  EXPECT_THAT(ReadLogLines(),
              Contains("kolvane: The trace file run.trace has reached its size cap of 8 MiB; no trace is written."));
}

TEST_F(Trace, AFileNearTheCapEndsWithTheCapsCommentAndStaysWithinIt) {
  const uint64_t room = 300;
  {
    std::ofstream nearly("run.trace", std::ios::binary);
    nearly << std::string(kTraceSizeCap - room - 1, '#') << '\n';
  }
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  EXPECT_LE(std::filesystem::file_size("run.trace"), kTraceSizeCap);
  EXPECT_EQ(Lines("run.trace").back(), "# trace stopped: the file reached its size cap of 8 MiB");
}

}  // namespace
}  // namespace test
}  // namespace kolvane
