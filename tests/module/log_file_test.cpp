// The shared log ("Quillfern.log") as something other than a plain file, and
// shared with other writers: it must never hold up the host, lose a line to
// another writer, or change its line ends.
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "testbed/sim_card.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/special_files.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

constexpr char kInitLine[] = "kolvane: Initializing kolvane.dll remote module.";
constexpr char kPollingLine[] = "kolvane: Polling the tuner's remote receiver every 20 ms.";

std::string LogText() {
  std::ifstream file("Quillfern.log", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { RemoveLog(); }
  void TearDown() override { RemoveLog(); }
};

TEST_F(LogFile, AFifoByTheLogsNameHoldsUpNeitherTheFactoryNorStartNorStop) {
#ifdef __linux__
  const std::string why = MakeFifo("Quillfern.log");
  if (!why.empty()) GTEST_SKIP() << why;
  std::atomic<int> keys{0};
  const bool inTime = RunsWithoutWaitingForAFifoReader("Quillfern.log", [&] {
    IRemoteModule* module = LoadedModuleEnvironment::factory()();
    ASSERT_NE(module, nullptr);
    MockKeySink sink;
    EXPECT_CALL(sink, OnKey(::testing::StrEq("Kolvane_ChannelUp"), ::testing::_))
        .WillOnce([&](const char*, const char*) {
          ++keys;
          return S_OK;
        });
    testbed::SimCard device;
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
    device.Press(0xD8);
    EXPECT_TRUE(WaitUntil([&] { return keys.load() == 1; }));
    EXPECT_EQ(module->Stop(), S_OK);
    EXPECT_EQ(module->Release(), 0u);
    EXPECT_RELEASED(sink, device);
  });
  EXPECT_TRUE(inTime) << "the module waited for a reader of the FIFO";
  EXPECT_EQ(keys.load(), 1);
#else
  GTEST_SKIP() << "no FIFOs in the file system here";
#endif
}

TEST_F(LogFile, TwoThreadsCreatingObjectsAtOnceLoseNoLine) {
  if (AppendsRaceHere()) GTEST_SKIP() << "Wine appends by fstat and pwrite, which two writers at once race";
  constexpr int kObjectsEach = 200;
  const auto create = [] {
    for (int i = 0; i < kObjectsEach; ++i) {
      IRemoteModule* module = LoadedModuleEnvironment::factory()();
      if (module != nullptr) module->Release();
    }
  };
  std::thread first(create), second(create);
  first.join();
  second.join();
  const std::vector<std::string> lines = ReadLogLines();
  EXPECT_EQ(lines.size(), 4u * kObjectsEach);
  for (const std::string& line : lines) EXPECT_TRUE(line == kInitLine || line == kPollingLine) << line;
}

TEST_F(LogFile, LinesEndAsTextLinesDoOnTheSystem) {
  IRemoteModule* module = LoadedModuleEnvironment::factory()();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Release(), 0u);
#ifdef _WIN32
  EXPECT_EQ(LogText(), std::string(kInitLine) + "\r\n" + kPollingLine + "\r\n");
#else
  EXPECT_EQ(LogText(), std::string(kInitLine) + "\n" + kPollingLine + "\n");
#endif
}

TEST_F(LogFile, ANewLogIsReadableByItsOwnerOnly) {
#ifdef __linux__
  ScopedUmask permissive(0);
  IRemoteModule* module = LoadedModuleEnvironment::factory()();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Release(), 0u);
  EXPECT_EQ(PermissionBits("Quillfern.log"), 0600);
#else
  GTEST_SKIP() << "a new file's default DACL is its owner's";
#endif
}

}  // namespace
}  // namespace test
}  // namespace kolvane
