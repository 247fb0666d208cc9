// A host starting and stopping the module: references, the poll thread, and
// the unsupported calls a host may still make (Start twice, Stop from inside
// OnKey, a host call that blocks past Stop's wait).
#include <atomic>
#include <chrono>
#include <thread>

#include "receiver/device.h"
#include "testbed/sim_card.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/latch.h"
#include "tests/support/press.h"
#include "tests/support/process_resources.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

using std::chrono::milliseconds;
using ::testing::_;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::StrEq;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kChannelUp = 0xD8;
constexpr uint8_t kMute = 0x08;
// Stop waits at most 5000 ms for the poll thread.
constexpr milliseconds kStopWait{5000};

// Counts set-up writes of the control register: one per Start that reached
// the poll loop.
class CountingDevice : public testbed::SimCard {
 public:
  CountingDevice() {
    SetAccessObserver([this](const testbed::RegisterAccess& access) {
      if (access.write && access.offset == kRegisterControl) ++setups;
    });
  }
  std::atomic<int> setups{0};
};

using StartStop = ModuleTest;

TEST_F(StartStop, NullSinkPollsButReportsNothing) {
  CountingDevice device;
  ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 5; }));
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(device);
}

TEST_F(StartStop, NullHostIsRefusedAndTheSinkIsNotReferenced) {
  MockKeySink sink;
  EXPECT_EQ(module_->Start(&sink, nullptr), E_UNEXPECTED);
  EXPECT_RELEASED(sink);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink);
}

TEST_F(StartStop, StopOnAnIdleObjectAndASecondStopDoNothing) {
  MockKeySink sink;
  CountingDevice device;
  EXPECT_EQ(module_->Stop(), S_OK);
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  EXPECT_EQ(sink.references(), 1);
  EXPECT_GE(device.outstandingReferences(), 1u);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink, device);
}

TEST_F(StartStop, EachStartRunsAFreshThreadThatSetsUpAndReports) {
  NiceMock<MockKeySink> sink;
  CountingDevice device;
  std::atomic<int> calls{0};
  ON_CALL(sink, OnKey(_, _)).WillByDefault(Invoke([&](const char*, const char*) {
    ++calls;
    return S_OK;
  }));
  for (int round = 1; round <= 3; ++round) {
    ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
    PressAndWait(device, kMute, calls, round);
    EXPECT_EQ(module_->Stop(), S_OK);
    EXPECT_EQ(device.setups.load(), round);
    EXPECT_RELEASED(device, sink);
  }
}

TEST_F(StartStop, KeysArriveOnThePollThreadNotTheHosts) {
  MockKeySink sink;
  testbed::SimCard device;
  std::atomic<int> calls{0};
  std::thread::id reporter;
  EXPECT_CALL(sink, OnKey(StrEq("Kolvane_ChannelUp"), StrEq("ChannelUp"))).WillOnce([&](const char*, const char*) {
    reporter = std::this_thread::get_id();
    ++calls;
    return S_OK;
  });
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  PressAndWait(device, kChannelUp, calls, 1);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_NE(reporter, std::this_thread::get_id());
}

TEST_F(StartStop, StartWhileRunningIsRefusedAndChangesNothing) {
  NiceMock<MockKeySink> sink;
  MockKeySink otherSink;
  CountingDevice device;
  testbed::SimCard otherDevice;
  std::atomic<int> calls{0};
  ON_CALL(sink, OnKey(_, _)).WillByDefault(Invoke([&](const char*, const char*) {
    ++calls;
    return S_OK;
  }));
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 1; }));
  const ULONG deviceReferences = device.outstandingReferences();

  EXPECT_EQ(module_->Start(&otherSink, otherDevice.host()), E_UNEXPECTED);
  EXPECT_EQ(module_->Start(&sink, device.host()), E_UNEXPECTED);
  EXPECT_RELEASED(otherSink, otherDevice);
  EXPECT_EQ(sink.references(), 1);
  EXPECT_EQ(device.outstandingReferences(), deviceReferences);

  PressAndWait(device, kMute, calls, 1);  // the first poll goes on
  EXPECT_EQ(device.setups.load(), 1);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(otherDevice.receiverPolls(), 0u);
}

TEST_F(StartStop, AHostWithoutRegistersLeavesTheObjectStartedUntilStop) {
  RemoveLog();
  MockKeySink sink;
  RefusingHost refusing;
  ASSERT_EQ(module_->Start(&sink, &refusing), S_OK);
  EXPECT_EQ(module_->Start(&sink, &refusing), E_UNEXPECTED);  // still started
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink, refusing);
  for (const std::string& line : ReadLogLines()) EXPECT_EQ(line.find("Bye"), std::string::npos) << line;
}

TEST_F(StartStop, StopReturnsWithinAboutOnePoll) {
  testbed::SimCard device;
  ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 3; }));
  const auto begin = Clock::now();
  EXPECT_EQ(module_->Stop(), S_OK);
  // One poll is 20 ms; the bound only guards against waiting the full
  // 5000 ms (exact figures come from the benchmark).
  EXPECT_LT(Clock::now() - begin, milliseconds(1000));
}

// --- Unsupported calls, handled soundly -----------------------------------

class UnsupportedCalls : public ModuleTest {
 protected:
  // The poll thread has given the device back once the module is gone.
  void ExpectDeviceGivenBack(testbed::SimCard& device) {
    EXPECT_TRUE(WaitUntil([&] { return device.outstandingReferences() == 0; }))
        << device.outstandingReferences() << " references left";
  }
};

TEST_F(UnsupportedCalls, StopFromInsideOnKeyReturnsAtOnceAndNoKeyFollows) {
  MockKeySink sink;
  testbed::SimCard device;
  std::atomic<int> calls{0};
  std::atomic<bool> stopReturned{false};
  EXPECT_CALL(sink, OnKey(_, _)).WillOnce([&](const char*, const char*) {
    ++calls;
    EXPECT_EQ(module_->Stop(), S_OK);
    stopReturned = true;
    return S_OK;
  });
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  PressAndWait(device, kChannelUp, calls, 1);
  ASSERT_TRUE(WaitUntil([&] { return stopReturned.load(); }));
  EXPECT_RELEASED(sink);
  ExpectDeviceGivenBack(device);
  device.Press(kMute);  // nobody polls any more
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(calls.load(), 1);
  // The object is idle again: Stop does nothing and Start works.
  EXPECT_EQ(module_->Stop(), S_OK);
  NiceMock<MockKeySink> nextSink;
  ASSERT_EQ(module_->Start(&nextSink, device.host()), S_OK);
  EXPECT_EQ(module_->Stop(), S_OK);
}

TEST_F(UnsupportedCalls, LastReleaseFromInsideOnKeyFreesTheObjectWhenTheThreadEnds) {
  MockKeySink sink;
  testbed::SimCard device;
  std::atomic<int> calls{0};
  std::atomic<ULONG> released{99};
  IRemoteModule* module = module_;
  module_ = nullptr;  // the sink drops the only reference
  EXPECT_CALL(sink, OnKey(_, _)).WillOnce([&](const char*, const char*) {
    released = module->Release();
    ++calls;
    return S_OK;
  });
  ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
  PressAndWait(device, kChannelUp, calls, 1);
  EXPECT_EQ(released.load(), 0u);
  EXPECT_RELEASED(sink);
  ExpectDeviceGivenBack(device);
}

// The given-up thread still runs on the object: a second poll thread beside
// it would report keys twice, or use the object after the first one frees it.
// (Releasing the object while the sink blocks: BlockingRegisterRead below, and
// tests/unload.)
TEST_F(UnsupportedCalls, BlockingSinkOutlastsStopAndNoStartRunsBesideItsThreadUntilItEnds) {
  MockKeySink sink;
  testbed::SimCard device;
  Latch latch;
  std::atomic<int> calls{0};
  EXPECT_CALL(sink, OnKey(_, _)).WillOnce([&](const char*, const char*) {
    ++calls;
    latch.Wait();
    return S_OK;
  });
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  PressAndWait(device, kChannelUp, calls, 1);
  ASSERT_TRUE(latch.WaitForWaiter());

  const auto begin = Clock::now();
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_GE(Clock::now() - begin, kStopWait - milliseconds(100));
  EXPECT_RELEASED(sink);

  NiceMock<MockKeySink> nextSink;
  testbed::SimCard nextDevice;
  std::atomic<int> nextCalls{0};
  ON_CALL(nextSink, OnKey(_, _)).WillByDefault(Invoke([&](const char*, const char*) {
    ++nextCalls;
    return S_OK;
  }));
  EXPECT_EQ(module_->Start(&nextSink, nextDevice.host()), E_UNEXPECTED) << "while the given-up thread runs";
  EXPECT_RELEASED(nextSink, nextDevice);

  device.Press(kMute);  // would be reported if the old thread polled on
  latch.Open();
  ExpectDeviceGivenBack(device);
  // The thread ends a moment after it gives its registers back.
  ASSERT_TRUE(WaitUntil([&] { return module_->Start(&nextSink, nextDevice.host()) == S_OK; }))
      << "Start is refused after the given-up thread has ended";
  PressAndWait(nextDevice, kChannelUp, nextCalls, 1);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(nextSink, nextDevice);
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(UnsupportedCalls, BlockingRegisterReadOutlastsStopAndTheThreadOnlyReleasesItsRegisters) {
  MockKeySink sink;
  testbed::SimCard device;
  Latch latch;
  std::atomic<bool> blockNextPoll{false};
  std::atomic<uint64_t> accessesAfterRelease{0};
  std::atomic<bool> released{false};
  device.SetAccessObserver([&](const testbed::RegisterAccess& access) {
    if (released) ++accessesAfterRelease;
    if (!access.write && blockNextPoll.exchange(false)) latch.Wait();
  });
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  blockNextPoll = true;
  ASSERT_TRUE(latch.WaitForWaiter());

  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink);
  EXPECT_EQ(ReleaseModule(), 0u);
  released = true;
  latch.Open();
  ExpectDeviceGivenBack(device);
  EXPECT_EQ(accessesAfterRelease.load(), 0u);
}

// Registers whose receiver read blocks, once armed, until the test opens the
// latch, and then returns a key: a press the given-up thread must not report.
class KeyAfterBlockingRead : public testbed::CountedObject<IDeviceRegisters> {
 public:
  KeyAfterBlockingRead() : CountedObject(&IID_IDeviceRegisters) {}
  HRESULT STDMETHODCALLTYPE Reserved() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t offset, uint32_t* value) override {
    if (offset == kRegisterReceiver) ++polls;
    uint32_t byte = kIdleReceiverByte;
    if (offset == kRegisterReceiver && block.exchange(false)) {
      latch.Wait();
      byte = kChannelUp;
    }
    *value = byte << kReceiverByteShift;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t, uint32_t) override { return S_OK; }

  Latch latch;
  std::atomic<bool> block{false};
  std::atomic<int> polls{0};
};

TEST_F(UnsupportedCalls, AKeyReadByACallThatOutlastedStopIsNotReportedToTheReleasedSink) {
  MockKeySink sink;
  KeyAfterBlockingRead device;
  EXPECT_CALL(sink, OnKey(_, _)).Times(0);
  ASSERT_EQ(module_->Start(&sink, &device), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.polls.load() >= 2; }));
  device.block = true;
  ASSERT_TRUE(device.latch.WaitForWaiter());

  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_RELEASED(sink);
  device.latch.Open();  // the read returns ChannelUp, fresh after idle
  EXPECT_TRUE(WaitUntil([&] { return device.references() == 0; })) << "the thread gives its registers back";
}

// --- Many cycles -------------------------------------------------------------

// The counts after one start and stop, so that threads the runtime starts
// once (a sanitizer's own, for one) are not taken for leaks.
ProcessResources WarmedUpResources(IRemoteModule* module) {
  testbed::SimCard device;
  EXPECT_EQ(module->Start(nullptr, device.host()), S_OK);
  EXPECT_EQ(module->Stop(), S_OK);
  return CountProcessResources();
}

// Threads and handles settle back to where they were: nothing leaks.
void ExpectResourcesSettleTo(const ProcessResources& before) {
  ProcessResources after;
  EXPECT_TRUE(ResourcesSettleTo(before, after)) << "threads " << before.threads << " -> " << after.threads
                                                << ", handles " << before.handles << " -> " << after.handles;
}

TEST(ManyCycles, TwoThousandStartStopCyclesBalanceEverything) {
  IRemoteModule* module = LoadedModuleEnvironment::factory()();
  ASSERT_NE(module, nullptr);
  NiceMock<MockKeySink> sink;
  CountingDevice device;
  const ProcessResources before = WarmedUpResources(module);
  constexpr int kCycles = 2000;
  for (int i = 0; i < kCycles; ++i) {
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK) << "cycle " << i;
    ASSERT_EQ(module->Stop(), S_OK);
  }
  EXPECT_RELEASED(sink, device);
  EXPECT_EQ(device.setups.load(), kCycles);  // every thread did its set-up
  EXPECT_EQ(module->Release(), 0u);
  ExpectResourcesSettleTo(before);
}

TEST(ManyCycles, AThousandCreateStartReleaseCyclesBalanceEverything) {
  NiceMock<MockKeySink> sink;
  testbed::SimCard device;
  IRemoteModule* first = LoadedModuleEnvironment::factory()();
  ASSERT_NE(first, nullptr);
  const ProcessResources before = WarmedUpResources(first);
  EXPECT_EQ(first->Release(), 0u);
  for (int i = 0; i < 1000; ++i) {
    IRemoteModule* module = LoadedModuleEnvironment::factory()();
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(module->Start(&sink, device.host()), S_OK);
    ASSERT_EQ(module->Release(), 0u);
  }
  EXPECT_RELEASED(sink, device);
  ExpectResourcesSettleTo(before);
  RemoveLog();
}

}  // namespace
}  // namespace test
}  // namespace kolvane
