// A host that unloads the module (FreeLibrary, dlclose) as soon as it has
// stopped and released its object, as it may: with nothing blocked the image
// goes at once; with a host call still blocking the poll thread the module's
// code stays mapped until that thread has returned through it.
#include <atomic>
#include <string>

#include "kolvane/kolvane.h"
#include "testbed/module_loader.h"
#include "testbed/sim_card.h"
#include "tests/support/host_doubles.h"
#include "tests/support/latch.h"
#include "tests/support/press.h"
#include "tests/support/process_resources.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

using ::testing::_;

constexpr uint8_t kMute = 0x08;
constexpr int kSessions = 200;

class Unloading : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testbed::ModulePathBesideExecutable();
    ASSERT_FALSE(testbed::IsModuleLoaded(path_)) << path_ << " is loaded before the test loads it";
  }

  // One host session: load, create, Start, one key, Stop, Release, unload.
  void RunSession() {
    testbed::LoadedModule loaded;
    ASSERT_TRUE(loaded.Load(path_)) << loaded.error();
    IRemoteModule* module = loaded.factory()();
    ASSERT_NE(module, nullptr);
    ::testing::NiceMock<MockKeySink> sink;
    testbed::SimCard device;
    std::atomic<int> calls{0};
    ON_CALL(sink, OnKey(_, _)).WillByDefault([&](const char*, const char*) {
      ++calls;
      return S_OK;
    });
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
    PressAndWait(device, kMute, calls, 1);
    EXPECT_EQ(module->Stop(), S_OK);
    EXPECT_EQ(module->Release(), 0u);
    EXPECT_RELEASED(sink, device);
    EXPECT_EQ(calls.load(), 1);
    loaded.Unload();
  }

  std::string path_;
};

TEST_F(Unloading, EverySessionUnloadsTheImageAtOnceAndHundredsLeaveNoThreadOrHandleBehind) {
  RunSession();  // the runtime's own one-time threads and handles
  const ProcessResources before = CountProcessResources();
  for (int session = 0; session < kSessions && !HasFatalFailure(); ++session) {
    RunSession();
    ASSERT_FALSE(testbed::IsModuleLoaded(path_)) << "session " << session;
  }
  ProcessResources after;
  EXPECT_TRUE(ResourcesSettleTo(before, after)) << "threads " << before.threads << " -> " << after.threads
                                                << ", handles " << before.handles << " -> " << after.handles;
}

// Defined last: on Linux the given-up thread keeps the image for the rest of
// the process, and the test above checks that an image goes.
TEST_F(Unloading, AHostMayUnloadAsSoonAsStopReturnsWhileItsOwnKeyCallStillBlocks) {
  RunSession();
  {
    testbed::LoadedModule loaded;
    ASSERT_TRUE(loaded.Load(path_)) << loaded.error();
    IRemoteModule* module = loaded.factory()();
    ASSERT_NE(module, nullptr);
    MockKeySink sink;
    testbed::SimCard device;
    Latch dialog;  // a modal dialog shown from the key handler
    std::atomic<int> calls{0};
    EXPECT_CALL(sink, OnKey(_, _)).WillOnce([&](const char*, const char*) {
      ++calls;
      dialog.Wait();
      return S_OK;
    });
    const ProcessResources before = CountProcessResources();
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
    PressAndWait(device, kMute, calls, 1);
    ASSERT_TRUE(dialog.WaitForWaiter());

    EXPECT_EQ(module->Stop(), S_OK);  // gives the thread up after its wait
    EXPECT_EQ(module->Release(), 0u);
    loaded.Unload();
    // The poll thread still runs the module's code: it must still be there.
    EXPECT_TRUE(testbed::IsModuleLoaded(path_));

    dialog.Open();  // OnKey returns into the module
    EXPECT_TRUE(WaitUntil([&] { return device.outstandingReferences() == 0; }));
    ProcessResources after;  // the poll thread has ended
    EXPECT_TRUE(ResourcesSettleTo(before, after)) << "threads " << before.threads << " -> " << after.threads;
    EXPECT_RELEASED(sink, device);
    EXPECT_EQ(calls.load(), 1);
  }
#ifdef _WIN32
  // The thread's own reference was the last: the DLL went with the thread.
  EXPECT_TRUE(WaitUntil([&] { return !testbed::IsModuleLoaded(path_); }));
#else
  // A thread cannot unmap the code it returns into: the image stays pinned.
  EXPECT_TRUE(testbed::IsModuleLoaded(path_));
#endif

  // The process lives on, and the module loads and reports keys again.
  RunSession();
}

}  // namespace
}  // namespace test
}  // namespace kolvane
