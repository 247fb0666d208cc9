// A host creating, querying and releasing module objects, and the log lines
// that construction leaves.
#include <string>
#include <vector>

#include "testbed/sim_card.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

constexpr char kInitLine[] = "kolvane: Initializing kolvane.dll remote module.";
constexpr char kByeLine[] = "kolvane: Break event received. Bye!";

// An IID that nothing implements.
const IID kUnknownIid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};

using ReferenceCounting = ModuleTest;

TEST_F(ReferenceCounting, NewObjectCountsTwoAfterAddRefAndOneAfterRelease) {
  EXPECT_EQ(module_->AddRef(), 2u);
  EXPECT_EQ(module_->Release(), 1u);
}

TEST_F(ReferenceCounting, UnknownAndRemoteModuleYieldTheSamePointerAndOneReferenceEach) {
  void* asUnknown = nullptr;
  void* asModule = nullptr;
  EXPECT_EQ(module_->QueryInterface(IID_IUnknown, &asUnknown), S_OK);
  EXPECT_EQ(module_->QueryInterface(IID_IRemoteModule, &asModule), S_OK);
  EXPECT_EQ(asUnknown, static_cast<void*>(module_));
  EXPECT_EQ(asModule, static_cast<void*>(module_));
  EXPECT_EQ(module_->AddRef(), 4u);
  EXPECT_EQ(module_->Release(), 3u);
  EXPECT_EQ(module_->Release(), 2u);
  EXPECT_EQ(module_->Release(), 1u);
}

TEST_F(ReferenceCounting, OtherIdentifiersFailWithNullOutAndUnchangedCount) {
  for (const IID* iid : {&IID_IDeviceRegisters, &kUnknownIid}) {
    void* out = &out;  // anything but null
    EXPECT_EQ(module_->QueryInterface(*iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  // One byte off IID_IRemoteModule, in its last byte: all 16 are compared.
  IID nearly = IID_IRemoteModule;
  nearly.Data4[7] ^= 1;
  void* out = &out;
  EXPECT_EQ(module_->QueryInterface(nearly, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(module_->AddRef(), 2u);
  EXPECT_EQ(module_->Release(), 1u);
}

TEST_F(ReferenceCounting, NullOutPointerIsRefusedWithoutAReference) {
  EXPECT_EQ(module_->QueryInterface(IID_IRemoteModule, nullptr), E_POINTER);
  EXPECT_EQ(module_->QueryInterface(kUnknownIid, nullptr), E_POINTER);
  EXPECT_EQ(module_->AddRef(), 2u);
  EXPECT_EQ(module_->Release(), 1u);
}

TEST_F(ReferenceCounting, ReservedSucceedsAndChangesNothing) {
  EXPECT_EQ(module_->Reserved(), S_OK);
  EXPECT_EQ(module_->AddRef(), 2u);
  EXPECT_EQ(module_->Release(), 1u);
  EXPECT_EQ(module_->Stop(), S_OK);
}

TEST_F(ReferenceCounting, ReleasingANeverStartedObjectReleasesNothing) {
  MockKeySink sink;
  testbed::SimCard device;
  EXPECT_EQ(ReleaseModule(), 0u);
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(device.receiverPolls(), 0u);
}

TEST_F(ReferenceCounting, ReleasingAStartedObjectStopsItAndGivesEverythingBack) {
  RemoveLog();
  MockKeySink sink;
  testbed::SimCard device;
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  EXPECT_EQ(sink.references(), 1);
  EXPECT_EQ(ReleaseModule(), 0u);
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(ReadLogLines().back(), kByeLine);
}

class Log : public ModuleTest {
 protected:
  void SetUp() override {
    RemoveLog();
    ModuleTest::SetUp();
  }
  void TearDown() override {
    ModuleTest::TearDown();
    RemoveLog();
  }
};

TEST_F(Log, ConstructionCreatesTheLogWithTwoLines) {
  const std::vector<std::string> lines = ReadLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kInitLine);
  EXPECT_EQ(lines[1].rfind("kolvane: ", 0), 0u) << lines[1];
}

TEST_F(Log, TwoObjectsLeaveFourLinesInOrder) {
  IRemoteModule* second = NewModule();
  ASSERT_NE(second, nullptr);
  const std::vector<std::string> lines = ReadLogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kInitLine);
  EXPECT_EQ(lines[2], kInitLine);
  EXPECT_EQ(lines[1], lines[3]);
  EXPECT_EQ(second->Release(), 0u);
}

TEST_F(Log, LinesAreAppendedToWhatTheHostWrote) {
  {
    std::ofstream host("Quillfern.log", std::ios::app);
    host << "host: tuner opened\n";
  }
  IRemoteModule* second = NewModule();
  const std::vector<std::string> lines = ReadLogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "host: tuner opened");
  EXPECT_EQ(lines[3], kInitLine);
  second->Release();
}

TEST(UnopenableLog, LeavesTheModuleWorking) {
  RemoveLog();
  // A directory by the log's name: no one, not even root, can open it as a file.
  std::filesystem::create_directory("Quillfern.log");
  IRemoteModule* module = LoadedModuleEnvironment::factory()();
  ASSERT_NE(module, nullptr);
  MockKeySink sink;
  testbed::SimCard device;
  std::atomic<bool> reported{false};
  EXPECT_CALL(sink, OnKey(::testing::StrEq("Kolvane_Mute"), ::testing::StrEq("Mute")))
      .WillOnce([&](const char*, const char*) {
        reported = true;
        return S_OK;
      });
  ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(0x08);
  EXPECT_TRUE(WaitUntil([&] { return reported.load(); }));
  EXPECT_EQ(module->Stop(), S_OK);
  EXPECT_EQ(module->Release(), 0u);
  EXPECT_TRUE(std::filesystem::is_directory("Quillfern.log"));
  RemoveLog();
}

}  // namespace
}  // namespace test
}  // namespace kolvane
