// The receiver through the real poll thread and a simulated card: the
// register set-up, presses and repeats as a host sees them. Exact timing is
// proven on a virtual clock in the unit tests; here the bounds are generous.
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testbed/sim_card.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"
#include "tests/support/latch.h"
#include "tests/support/wait.h"

namespace kolvane {
namespace test {
namespace {

using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kVolumeUp = 0x58;

struct Report {
  std::string name;
  std::string label;
  Clock::time_point at;
};

// A sink that records every key with the host's time of arrival.
class RecordingSink : public CountedObject<IRemoteKeySink> {
 public:
  RecordingSink() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back({name, label, Clock::now()});
    return S_OK;
  }
  std::vector<Report> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  size_t count() { return reports().size(); }

 private:
  std::mutex mutex_;
  std::vector<Report> reports_;
};

// Records the first register accesses in order.
class RecordingDevice : public testbed::SimCard {
 public:
  static constexpr size_t kKept = 8;
  RecordingDevice() {
    SetAccessObserver([this](const testbed::RegisterAccess& access) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (accesses_.size() < kKept) accesses_.push_back(access);
    });
  }
  std::vector<testbed::RegisterAccess> setup() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accesses_;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<testbed::RegisterAccess> accesses_;
};

MATCHER_P3(Access, write, offset, value, "") {
  return arg.write == write && arg.offset == static_cast<uint32_t>(offset) && arg.value == static_cast<uint32_t>(value);
}

using Receiver = ModuleTest;

TEST_F(Receiver, SetUpSetsItsBitsInOrderAndKeepsTheOthers) {
  RecordingDevice device;
  device.WriteRegister(0x10C, 0x80000001);
  device.WriteRegister(0x118, 0x00000F0F);
  device.WriteRegister(0x200, 0x00000030);
  device.Forget();
  ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 1; }));
  EXPECT_EQ(module_->Stop(), S_OK);
  // The receiver byte (idle 0xFF) reads back in bits 16-23 of 0x200.
  std::vector<testbed::RegisterAccess> setup = device.setup();
  setup.resize(6);
  EXPECT_THAT(setup, ElementsAre(Access(false, 0x10C, 0x80000001), Access(true, 0x10C, 0x80000005),
                                 Access(false, 0x118, 0x00000F0F), Access(true, 0x118, 0x00007F0F),
                                 Access(false, 0x200, 0x00FF0030), Access(true, 0x200, 0x00FF7FF2)));
}

// Register access whose reads fill nothing: each set-up write is the mask
// alone, never bits left over from another register's read.
class SilentRegisters : public CountedObject<IDeviceRegisters> {
 public:
  SilentRegisters() : CountedObject(&IID_IDeviceRegisters) {}
  HRESULT STDMETHODCALLTYPE Reserved() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t offset, uint32_t* value) override {
    if (offset == 0x10C) first_ = *value;  // what the module offered, untouched
    ++reads_;
    return E_UNEXPECTED;
  }
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t offset, uint32_t value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back({offset, value});
    return S_OK;
  }
  std::vector<std::pair<uint32_t, uint32_t>> writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  std::atomic<int> reads_{0};
  std::atomic<uint32_t> first_{0xDEADBEEF};

 private:
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, uint32_t>> writes_;
};

TEST_F(Receiver, SetUpReadsThatFillNothingWriteOnlyTheMasks) {
  SilentRegisters registers;
  ASSERT_EQ(module_->Start(nullptr, &registers), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return registers.reads_ >= 5; }));
  EXPECT_EQ(module_->Stop(), S_OK);
  using Write = std::pair<uint32_t, uint32_t>;
  EXPECT_THAT(registers.writes(), ElementsAre(Write{0x10C, 0x4}, Write{0x118, 0x7000}, Write{0x200, 0x7FC2}));
  EXPECT_EQ(registers.first_.load(), 0u);
  EXPECT_RELEASED(registers);
}

// A host whose QueryInterface for register access waits for the test.
class SlowToAnswerDevice : public RecordingDevice {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IDeviceRegisters)) answer.Wait();
    return RecordingDevice::QueryInterface(iid, object);
  }
  Latch answer;
};

TEST_F(Receiver, AStopSignalledBeforeTheLoopStillSetsUpThenPollsNothingAndSaysBye) {
  RemoveLog();
  SlowToAnswerDevice device;
  ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
  ASSERT_TRUE(device.answer.WaitForWaiter());
  // Stop signals at once, then waits; the host answers well inside the wait.
  std::thread host([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    device.answer.Open();
  });
  EXPECT_EQ(module_->Stop(), S_OK);
  host.join();
  EXPECT_EQ(device.setup().size(), 6u);  // the set-up's reads and writes, and no poll
  EXPECT_RELEASED(device);
  EXPECT_EQ(ReadLogLines().back(), "kolvane: Break event received. Bye!");
}

TEST_F(Receiver, AHeldKeyIsReportedOnceAtOnceThenRepeatedMoreThan200msApart) {
  RecordingSink sink;
  testbed::SimCard device;
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  device.Press(kVolumeUp);
  ASSERT_TRUE(WaitUntil([&] { return sink.count() >= 1; }));
  device.Hold(kVolumeUp);
  ASSERT_TRUE(WaitUntil([&] { return sink.count() >= 4; }));
  device.ReleaseKey();
  EXPECT_EQ(module_->Stop(), S_OK);

  const std::vector<Report> reports = sink.reports();
  for (const Report& report : reports) {
    EXPECT_EQ(report.name, "Kolvane_VolumeUp");
    EXPECT_EQ(report.label, "VolumeUp");
  }
  // Gaps seen by the host; a little below 200 ms allows for clocks that tick
  // differently from the module's, far above one 20 ms poll.
  for (size_t i = 2; i < reports.size(); ++i) {
    EXPECT_GT(reports[i].at - reports[i - 1].at, std::chrono::milliseconds(190)) << "repeat " << i;
  }
}

TEST_F(Receiver, Bit2IsIgnoredAndUnknownCodesReportNothing) {
  RecordingSink sink;
  testbed::SimCard device;
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 2; }));
  for (uint8_t byte : {uint8_t{0xD0}, uint8_t{0x6A}, uint8_t{0x6C}}) {  // no key, bit 1 set, TV with bit 2
    const uint64_t polls = device.receiverPolls();
    device.SetReceiverByte(byte);
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 3; }));
  }
  ASSERT_TRUE(WaitUntil([&] { return sink.count() >= 1; }));
  EXPECT_EQ(module_->Stop(), S_OK);
  const std::vector<Report> reports = sink.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].name, "Kolvane_TV");
  EXPECT_EQ(reports[0].label, "");
}

}  // namespace
}  // namespace test
}  // namespace kolvane
