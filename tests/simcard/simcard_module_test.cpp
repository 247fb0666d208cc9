// The simulated card of kolvane/simcard.h driving the real module, loaded
// as a host loads it, in real time: every key of the public list reaches the
// sink with its name and label, a hold repeats, the module sets the card up,
// the card cannot be freed under the module, and reads on other threads while
// a key is pressed (run under ThreadSanitizer too); a press that returns 0
// is a key the sink has, after restarts on one card and behind a slow sink,
// and a press the module does not poll returns -1 within the card's bound.
// Bounds are generous: the machine may be busy, or Wine.
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/module/module_fixture.h"
#include "tests/support/host_doubles.h"

// The card as the test bed compiles it once (testbed/simcard.c), for the
// tools and the module's tests alike.
#include "kolvane/simcard.h"

namespace kolvane {
namespace test {
namespace {

constexpr unsigned kFirstPollPatienceMs = 10000;

struct Reported {
  std::string name;
  std::string label;
  bool operator==(const Reported& other) const { return name == other.name && label == other.label; }
};

void PrintTo(const Reported& key, std::ostream* out) { *out << key.name << " (" << key.label << ")"; }

// A press the module is not polling ends within the card's bound; this much
// more for a busy machine.
constexpr std::chrono::milliseconds kGivingUpSlack{3000};

// A sink that keeps every key in order; OnKey runs on the poll thread. It
// may take its time over the first key, as a host that draws there does.
class RecordingSink : public CountedObject<IRemoteKeySink> {
 public:
  RecordingSink() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.empty() && firstKeyDelay_.count() > 0) std::this_thread::sleep_for(firstKeyDelay_);
    if (everyKeyDelay_.count() > 0) std::this_thread::sleep_for(everyKeyDelay_);
    keys_.push_back(Reported{name, label});
    return S_OK;
  }
  void SlowOnFirstKey(std::chrono::milliseconds delay) { firstKeyDelay_ = delay; }
  void SlowOnEveryKey(std::chrono::milliseconds delay) { everyKeyDelay_ = delay; }
  std::vector<Reported> keys() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return keys_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Reported> keys_;
  std::chrono::milliseconds firstKeyDelay_{0};
  std::chrono::milliseconds everyKeyDelay_{0};
};

using Clock = std::chrono::steady_clock;

class SimCardModuleTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    card_ = kolvane_simcard_new();
    ASSERT_NE(card_, nullptr);
  }
  void TearDown() override {
    if (card_ != nullptr) {
      module_->Stop();
      EXPECT_EQ(kolvane_simcard_free(card_), 0);
    }
    ModuleTest::TearDown();
  }
  void StartOnTheCard() {
    ASSERT_EQ(module_->Start(&sink_, kolvane_simcard_registers(card_)), S_OK);
    ASSERT_EQ(kolvane_simcard_wait_reads(card_, 1, kFirstPollPatienceMs), 0) << "the module never polled";
  }

  RecordingSink sink_;
  KolvaneSimCard* card_ = nullptr;
};

TEST_F(SimCardModuleTest, EveryKeyOfThePublicListReachesTheSinkWithItsNameAndLabel) {
#define KOLVANE_TEST_REPORTED(name, label, code) Reported{name, label},
  const std::vector<Reported> listed = {KOLVANE_KEYS(KOLVANE_TEST_REPORTED)};
#undef KOLVANE_TEST_REPORTED
  ASSERT_EQ(listed.size(), 31u);
  StartOnTheCard();
  for (const Reported& key : listed) ASSERT_EQ(kolvane_simcard_press(card_, key.name.c_str(), 0), 0) << key.name;
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_EQ(sink_.keys(), listed);
}

TEST_F(SimCardModuleTest, APressIsOneKeyAndALongHoldRepeatsIt) {
  StartOnTheCard();
  ASSERT_EQ(kolvane_simcard_press(card_, "Mute", 100), 0);
  ASSERT_EQ(kolvane_simcard_press(card_, "VolumeUp", 1000), 0);
  EXPECT_EQ(module_->Stop(), S_OK);

  const std::vector<Reported> keys = sink_.keys();
  ASSERT_GE(keys.size(), 2u);
  EXPECT_EQ(keys[0], (Reported{"Kolvane_Mute", "Mute"}));
  // 900 ms of the held byte: a repeat about every 200 ms, fewer on a busy machine.
  EXPECT_GE(keys.size(), 1u + 1u + 2u);
  EXPECT_LE(keys.size(), 1u + 1u + 4u);
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_EQ(keys[i], (Reported{"Kolvane_VolumeUp", "VolumeUp"})) << i;
}

TEST_F(SimCardModuleTest, TheModuleSetsTheCardUpAndGivesItsReferenceBack) {
  StartOnTheCard();
  EXPECT_EQ(kolvane_simcard_register(card_, 0x10C), 0x00000004u);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x118), 0x00007000u);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x200), 0x00FF7FC2u);
  EXPECT_EQ(kolvane_simcard_references(card_), 2);  // as the host object, and as its registers
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_EQ(kolvane_simcard_references(card_), 0);
}

TEST_F(SimCardModuleTest, TheCardIsNotFreedWhileTheModuleHoldsIt) {
  StartOnTheCard();
  EXPECT_EQ(kolvane_simcard_free(card_), -1);
  // Still polled: the card is alive.
  const unsigned long reads = kolvane_simcard_reads(card_);
  EXPECT_EQ(kolvane_simcard_wait_reads(card_, reads + 2, kFirstPollPatienceMs), 0);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_EQ(kolvane_simcard_free(card_), 0);
  card_ = nullptr;
}

TEST_F(SimCardModuleTest, ReadsOnOtherThreadsWhileAKeyIsPressedSeeOnlyItsBytes) {
  StartOnTheCard();
  std::atomic<bool> pressing{true};
  std::atomic<int> strangeBytes{0};
  std::atomic<int> readsGoingBack{0};
  std::vector<std::thread> readers;
  readers.reserve(2);
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      unsigned long lastReads = 0;
      while (pressing.load()) {
        uint32_t value = 0;
        kolvane_simcard_registers(card_)->ReadRegister(0x10C, &value);
        const uint32_t shown = (kolvane_simcard_register(card_, 0x200) >> 16) & 0xFF;
        if (shown != 0xFF && shown != 0xD8 && shown != 0xD9) ++strangeBytes;
        const unsigned long reads = kolvane_simcard_reads(card_);
        if (reads < lastReads) ++readsGoingBack;
        lastReads = reads;
        std::this_thread::yield();
      }
    });
  }
  for (int i = 0; i < 3; ++i) ASSERT_EQ(kolvane_simcard_press(card_, "ChannelUp", 300), 0);
  pressing = false;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(module_->Stop(), S_OK);

  EXPECT_EQ(strangeBytes.load(), 0);
  EXPECT_EQ(readsGoingBack.load(), 0);
  const std::vector<Reported> keys = sink_.keys();
  EXPECT_GE(keys.size(), 3u);  // three presses, and a repeat or not for each
  for (const Reported& key : keys) EXPECT_EQ(key, (Reported{"Kolvane_ChannelUp", "ChannelUp"}));
}

TEST_F(SimCardModuleTest, TenStartsOnOneCardEachWithAPressGiveTenKeys) {
  for (int cycle = 0; cycle < 10; ++cycle) {
    SCOPED_TRACE(::testing::Message() << "cycle " << cycle);
    StartOnTheCard();
    ASSERT_EQ(kolvane_simcard_press(card_, "ChannelUp", 100), 0);
    ASSERT_EQ(module_->Stop(), S_OK);
    EXPECT_EQ(sink_.keys().size(), static_cast<size_t>(cycle) + 1);
  }
}

TEST_F(SimCardModuleTest, ASinkThatTakes350MsOverItsFirstKeyLosesNoPress) {
  sink_.SlowOnFirstKey(std::chrono::milliseconds(350));
  StartOnTheCard();
  for (const char* key : {"ChannelUp", "VolumeUp", "Mute", "Power"})
    ASSERT_EQ(kolvane_simcard_press(card_, key, 100), 0);
  // Every key is in: press returned 0 only after the module read the idle byte twice.
  EXPECT_EQ(sink_.keys(), (std::vector<Reported>{{"Kolvane_ChannelUp", "ChannelUp"},
                                                 {"Kolvane_VolumeUp", "VolumeUp"},
                                                 {"Kolvane_Mute", "Mute"},
                                                 {"Kolvane_Exit", "Power"}}));
  EXPECT_EQ(module_->Stop(), S_OK);
}

// At a real remote's pace, a sink that takes 300 ms over every key loses
// presses; each live press that returned 0 is a key the sink received, in
// order, and each that returned 1 is one it never did.
TEST_F(SimCardModuleTest, LivePressesBehindA300MsSinkAreLostAndEachResultSaysWhichReachedIt) {
  sink_.SlowOnEveryKey(std::chrono::milliseconds(300));
  StartOnTheCard();
  std::vector<Reported> arrived;
  for (const char* digit : {"1", "2", "3", "4", "5", "6"}) {
    const int result = kolvane_simcard_press_live(card_, digit, 100);
    ASSERT_TRUE(result == 0 || result == 1) << result;
    if (result == 0) arrived.push_back(Reported{std::string("Kolvane_") + digit, digit});
  }
  EXPECT_EQ(module_->Stop(), S_OK);  // waits for the last OnKey
  EXPECT_EQ(sink_.keys(), arrived);
  EXPECT_LT(arrived.size(), 6u);  // after each key the sink has, the next is gone before the next poll
  EXPECT_GE(arrived.size(), 1u);
}

TEST_F(SimCardModuleTest, ALivePressNoModulePollsIsLostAndEndsInItsOwnTime) {
  const Clock::time_point began = Clock::now();
  KolvaneSimCardLivePress live;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "Mute", 100, &live), 1);
  EXPECT_LT(Clock::now() - began, std::chrono::milliseconds(200) + kGivingUpSlack);
  ASSERT_EQ(live.count, 2);
  EXPECT_EQ(live.polls[0], 0u);
  EXPECT_GE(live.shown[0].ms, 100u);
  EXPECT_GE(live.shown[1].ms, 100u);
}

TEST_F(SimCardModuleTest, APressWhileTheModuleIsNotStartedReturnsMinusOneWithinTheBound) {
  for (int round = 0; round < 2; ++round) {  // never started, then stopped
    SCOPED_TRACE(round == 0 ? "never started" : "stopped");
    const Clock::time_point began = Clock::now();
    EXPECT_EQ(kolvane_simcard_press(card_, "ChannelUp", 100), -1);
    const auto took = Clock::now() - began;
    EXPECT_GE(took, std::chrono::milliseconds(KOLVANE_SIMCARD_POLL_TIMEOUT_MS - 50));
    EXPECT_LE(took, std::chrono::milliseconds(KOLVANE_SIMCARD_POLL_TIMEOUT_MS) + kGivingUpSlack);
    EXPECT_EQ(kolvane_simcard_register(card_, 0x200) >> 16 & 0xFF, 0xFFu);
    StartOnTheCard();
    ASSERT_EQ(module_->Stop(), S_OK);
  }
  EXPECT_TRUE(sink_.keys().empty());
}

TEST_F(SimCardModuleTest, TheModuleStoppedDuringAHoldEndsThePressWithMinusOne) {
  StartOnTheCard();
  std::atomic<int> result{1};
  std::thread presser([&] { result = kolvane_simcard_press(card_, "VolumeUp", 60000); });
  const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
  while (sink_.keys().empty() && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_FALSE(sink_.keys().empty()) << "the press never arrived";
  const Clock::time_point stopped = Clock::now();
  EXPECT_EQ(module_->Stop(), S_OK);
  presser.join();
  // Not the minute of the hold: the press notices the polls stopped.
  EXPECT_EQ(result.load(), -1);
  EXPECT_LE(Clock::now() - stopped, std::chrono::milliseconds(2 * KOLVANE_SIMCARD_POLL_TIMEOUT_MS) + kGivingUpSlack);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x200) >> 16 & 0xFF, 0xFFu);
}

}  // namespace
}  // namespace test
}  // namespace kolvane
