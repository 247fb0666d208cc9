// The trace through the loaded module: what KOLVANE_TRACE turns on, what a
// run writes, and what happens when the file cannot be used. The exact
// format and timing are proven on a virtual clock in the unit tests.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "receiver/trace_format.h"
#include "testbed/simulated_device.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr uint8_t kChannelUp = 0xD8;

class KeyNames : public CountedObject<IRemoteKeySink> {
 public:
  KeyNames() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.push_back(name);
    return S_OK;
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
};

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> FilesHere() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename().string());
  return names;
}

// Each test sets KOLVANE_TRACE as it needs; the value the run had comes back.
class Trace : public ModuleTest {
 protected:
  void SetUp() override {
    const char* value = getenv(kTraceVariable);
    hadValue_ = value != nullptr;
    if (hadValue_) previous_ = value;
    RemoveLog();
    ModuleTest::SetUp();
  }
  void TearDown() override {
    ModuleTest::TearDown();
    testbed::SetModuleEnvironment(kTraceVariable, hadValue_ ? previous_.c_str() : nullptr);
    std::error_code ignored;
    std::filesystem::remove("run.trace", ignored);
  }
  // One fresh press of ChannelUp with the variable as it stands.
  void PressChannelUp() {
    testbed::SimulatedDevice device;
    KeyNames sink;
    ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
    device.Press(kChannelUp);
    ASSERT_TRUE(WaitUntil([&] { return !sink.names().empty(); }));
    device.ReleaseKey();
    const uint64_t polls = device.receiverPolls();
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 2; }));
    EXPECT_EQ(module_->Stop(), S_OK);
    EXPECT_THAT(sink.names(), ElementsAre("Kolvane_ChannelUp"));
    EXPECT_RELEASED(sink, device);
  }

 private:
  bool hadValue_ = false;
  std::string previous_;
};

TEST_F(Trace, ARunIsWrittenAsAScriptOfItsBytesWithItsReportsAndIsClosedAtStop) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "run.trace"));
  PressChannelUp();
  const std::vector<std::string> lines = Lines("run.trace");
  ASSERT_GE(lines.size(), 6u);
  EXPECT_THAT(lines[0], StartsWith("# kolvane "));
  EXPECT_THAT(lines[0], HasSubstr(" trace, "));
  EXPECT_THAT(lines[2], StartsWith("raw 0xFF "));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("# "), EndsWith("s Kolvane_ChannelUp fresh"))));
  EXPECT_THAT(lines, Contains(StartsWith("raw 0xD8 ")));
  EXPECT_THAT(lines.back(), StartsWith("# end of run, "));
  EXPECT_THAT(lines.back(), ::testing::Not(HasSubstr("given up")));
  // Nothing but the module's own lines in the log.
  EXPECT_THAT(ReadLogLines(), ::testing::Each(::testing::Not(HasSubstr("trace"))));
}

// A sink that stops the module from inside OnKey: Stop gives up the poll
// thread, which still owns the trace and closes it when the call returns.
class StoppingSink : public KeyNames {
 public:
  explicit StoppingSink(IRemoteModule* module) : module_(module) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override {
    KeyNames::OnKey(name, label);
    module_->Stop();
    return S_OK;
  }

 private:
  IRemoteModule* const module_;
};

TEST_F(Trace, AGivenUpThreadStillEndsAndClosesItsTrace) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "run.trace"));
  testbed::SimulatedDevice device;
  StoppingSink sink(module_);
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<std::string> lines = Lines("run.trace");
    return !lines.empty() && lines.back().rfind("# end of run", 0) == 0;
  }));
  const std::vector<std::string> lines = Lines("run.trace");
  EXPECT_THAT(lines.back(), EndsWith(", given up by Stop"));
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("# "), EndsWith("s Kolvane_ChannelUp fresh"))));
  EXPECT_TRUE(WaitUntil([&] { return device.outstandingReferences() == 0; }));
  EXPECT_RELEASED(sink);
}

TEST_F(Trace, EveryStartAppendsItsOwnRun) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "run.trace"));
  testbed::SimulatedDevice device;
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
    ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, value));
    RemoveLog();
    const std::vector<std::string> before = FilesHere();
    PressChannelUp();
    std::vector<std::string> after = FilesHere();
    after.erase(std::remove(after.begin(), after.end(), "Quillfern.log"), after.end());
    EXPECT_EQ(after, before) << "KOLVANE_TRACE " << (value == nullptr ? "unset" : "empty");
  }
}

TEST_F(Trace, AFileThatCannotBeOpenedCostsTheTraceAndOneLogLineButNoKey) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "no-such-folder/run.trace"));
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
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "run.trace"));
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
  ASSERT_TRUE(testbed::SetModuleEnvironment(kTraceVariable, "run.trace"));
  PressChannelUp();
  EXPECT_LE(std::filesystem::file_size("run.trace"), kTraceSizeCap);
  EXPECT_EQ(Lines("run.trace").back(), "# trace stopped: the file reached its size cap of 8 MiB");
}

}  // namespace
}  // namespace test
}  // namespace kolvane
