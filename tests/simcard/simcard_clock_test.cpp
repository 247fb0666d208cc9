// The simulated card of kolvane/simcard.h on a virtual clock: what a press
// and a hold show on the receiver and for how long, what polls at any phase
// see of it and what the module's decoder makes of that; reference counting,
// freeing, the registers and allocation failure; a press that waits for the
// polls however late they come and gives up when they stop; every start
// counting its reads afresh. The header's hooks replace its clock, its sleep
// and its allocator, so no test here waits in real time.
#include <stdint.h>
#include <stdlib.h>

#include <ostream>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

struct KolvaneSimCard;

namespace {

// The test's clock: each sleep of the card advances it and may poll the
// receiver, as a module's poll loop would, every 20 virtual ms; a poll may
// take longer (a slow sink), the polls may stop, and a sleep may last longer
// than asked (Windows' Sleep rounds up to its 15.6 ms tick).
struct VirtualClock {
  struct Shown {
    unsigned byte;
    unsigned ms;
    bool operator==(const Shown& other) const { return byte == other.byte && ms == other.ms; }
  };
  struct Poll {
    uint32_t atMs;
    unsigned byte;
  };

  KolvaneSimCard* card = nullptr;
  uint32_t nowMs = 0;
  bool polling = false;
  uint32_t nextPollMs = 0;
  uint32_t stopPollingAtMs = UINT32_MAX;
  uint32_t sleepTickMs = 1;
  // Extra time the poll that first sees a byte with bit 0 clear other than
  // idle takes before the next, once (a sink slow on its first key).
  uint32_t slowFirstKeyMs = 0;
  // Extra time every poll at which the module reports a key takes (a byte
  // with bit 0 clear after another, once one with bit 0 set came): an OnKey
  // that takes this long on every key.
  uint32_t slowKeyMs = 0;
  int lastPolled = -1;       // the byte of the latest poll, as the module keeps it
  std::vector<Shown> shown;  // the receiver byte over time, equal bytes merged
  std::vector<Poll> polls;

  void Sleep(unsigned ms);
};

VirtualClock* virtualClock = nullptr;
int allocations = 0;
int frees = 0;
bool outOfMemory = false;

void* TestMalloc(size_t size) {
  if (outOfMemory) return nullptr;
  ++allocations;
  return malloc(size);
}

void TestFree(void* pointer) {
  ++frees;
  free(pointer);
}

}  // namespace

#define KOLVANE_SIMCARD_SLEEP_MS(card, ms) virtualClock->Sleep(ms)
#define KOLVANE_SIMCARD_NOW_MS(card) static_cast<unsigned long>(virtualClock->nowMs)
#define KOLVANE_SIMCARD_MALLOC(size) TestMalloc(size)
#define KOLVANE_SIMCARD_FREE(pointer) TestFree(pointer)
#define KOLVANE_SIMCARD_IMPLEMENTATION
#include "kolvane/simcard.h"
#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::ostream& operator<<(std::ostream& out, const VirtualClock::Shown& shown) {
  return out << "{0x" << std::hex << shown.byte << std::dec << " for " << shown.ms << " ms}";
}

unsigned ReceiverByte(const KolvaneSimCard* card) { return (kolvane_simcard_register(card, 0x200) >> 16) & 0xFF; }

void VirtualClock::Sleep(unsigned ms) {
  ms = (ms + sleepTickMs - 1) / sleepTickMs * sleepTickMs;
  const unsigned now = ReceiverByte(card);
  if (!shown.empty() && shown.back().byte == now) {
    shown.back().ms += ms;
  } else {
    shown.push_back(Shown{now, ms});
  }
  const uint32_t end = nowMs + ms;
  while (polling && nextPollMs < end && nextPollMs < stopPollingAtMs) {
    uint32_t value = 0;
    IDeviceRegisters* registers = kolvane_simcard_registers(card);
    registers->ReadRegister(0x200, &value);
    const unsigned byte = (value >> 16) & 0xFF;
    polls.push_back(Poll{nextPollMs, byte});
    nextPollMs += 20;
    if ((byte & 1) == 0 && slowFirstKeyMs != 0) {
      nextPollMs += slowFirstKeyMs;
      slowFirstKeyMs = 0;
    }
    const bool reports = (byte & 1) == 0 && lastPolled != -1 && static_cast<int>(byte) != lastPolled;
    if (reports) nextPollMs += slowKeyMs;
    if ((byte & 1) != 0 || lastPolled != -1) lastPolled = static_cast<int>(byte);
  }
  nowMs = end;
}

// How many polls read `byte`.
int PollsOf(const std::vector<VirtualClock::Poll>& polls, unsigned byte) {
  int seen = 0;
  for (const VirtualClock::Poll& poll : polls) seen += poll.byte == byte ? 1 : 0;
  return seen;
}

// What the module's own decoder reports for these polls, by a sink that
// takes no time; as the module dispatches, a code without a key (the idle
// byte's repeat, 0xFA) reaches no sink.
struct Reports {
  int fresh = 0;
  int repeats = 0;
  std::vector<std::string> keys;
  std::vector<uint32_t> atMs;  // the tick of each
};

Reports Decode(const std::vector<VirtualClock::Poll>& polls) {
  Reports reports;
  if (polls.empty()) return reports;
  kolvane::KeyDecoder decoder(polls.front().atMs);
  for (const VirtualClock::Poll& poll : polls) {
    decoder.Poll(
        poll.byte, [&] { return poll.atMs; },
        [&](const kolvane::KeyDecoder::PollResult& result, uint32_t) {
          const kolvane::RemoteKey* key =
              result.report ? kolvane::FindRemoteKey(kolvane::RemoteKeyTable, kolvane::kRemoteKeyCount, result.code)
                            : nullptr;
          if (key == nullptr) return;
          reports.keys.emplace_back(key->name);
          reports.atMs.push_back(poll.atMs);
          ++((poll.byte & 1) != 0 ? reports.repeats : reports.fresh);
        });
  }
  return reports;
}

class SimCardClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    virtualClock = &clock_;
    allocations = frees = 0;
    outOfMemory = false;
    card_ = kolvane_simcard_new();
    ASSERT_NE(card_, nullptr);
    clock_.card = card_;
  }
  void TearDown() override {
    if (card_ != nullptr) {
      EXPECT_EQ(kolvane_simcard_free(card_), 0);
    }
    virtualClock = nullptr;
  }
  // A poll loop that has set the card up and polls every 20 ms from `phaseMs` on.
  void StartPolling(uint32_t phaseMs) {
    kolvane_simcard_registers(card_)->WriteRegister(0x200, 0x7FC2);
    clock_.polling = true;
    clock_.nextPollMs = clock_.nowMs + phaseMs;
  }

  VirtualClock clock_;
  KolvaneSimCard* card_ = nullptr;
};

// --- What a press shows, and for how long ---

TEST_F(SimCardClockTest, APressShowsThePressByteFor100MsThenIdleFor100Ms) {
  StartPolling(0);
  EXPECT_EQ(kolvane_simcard_press(card_, "ChannelUp", 100), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0xD8, 100}, VirtualClock::Shown{0xFF, 100}));
  EXPECT_EQ(ReceiverByte(card_), 0xFFu);
}

TEST_F(SimCardClockTest, AShorterPressIsStillShownFor60Ms) {
  StartPolling(0);
  for (unsigned holdMs : {0u, 1u, 20u, 59u}) {
    SCOPED_TRACE(::testing::Message() << "held " << holdMs << " ms");
    clock_.shown.clear();
    EXPECT_EQ(kolvane_simcard_press(card_, "VolumeUp", holdMs), 0);
    EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x58, 60}, VirtualClock::Shown{0xFF, 100}));
  }
  clock_.shown.clear();
  EXPECT_EQ(kolvane_simcard_press(card_, "VolumeUp", 80), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x58, 80}, VirtualClock::Shown{0xFF, 100}));
}

TEST_F(SimCardClockTest, AHoldShowsThePressByteFor100MsThenTheHeldByteForTheRest) {
  StartPolling(0);
  EXPECT_EQ(kolvane_simcard_press(card_, "VolumeUp", 1000), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x58, 100}, VirtualClock::Shown{0x59, 900},
                                        VirtualClock::Shown{0xFF, 100}));
}

TEST_F(SimCardClockTest, AHoldJustPastTheFirstStretchShowsTheHeldByteFor60Ms) {
  StartPolling(0);
  EXPECT_EQ(kolvane_simcard_press(card_, "Mute", 101), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x08, 100}, VirtualClock::Shown{0x09, 60},
                                        VirtualClock::Shown{0xFF, 100}));
  clock_.shown.clear();
  EXPECT_EQ(kolvane_simcard_press(card_, "Mute", 160), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x08, 100}, VirtualClock::Shown{0x09, 60},
                                        VirtualClock::Shown{0xFF, 100}));
}

TEST_F(SimCardClockTest, EveryByteOfAPressOrHoldIsSeenByAtLeastTwoPollsAtAnyPhase) {
  for (unsigned holdMs : {0u, 60u, 100u, 101u, 160u, 350u}) {
    for (uint32_t phase = 0; phase < 20; ++phase) {
      SCOPED_TRACE(::testing::Message() << "held " << holdMs << " ms, polls at phase " << phase << " ms");
      clock_.polls.clear();
      clock_.shown.clear();
      StartPolling(phase);
      ASSERT_EQ(kolvane_simcard_press(card_, "Enter", holdMs), 0);
      for (unsigned expected : {0x98u, 0x99u, 0xFFu}) {
        const int seen = PollsOf(clock_.polls, expected);
        if (expected == 0x99 && holdMs <= 100) {
          EXPECT_EQ(seen, 0) << "a press shows no held byte";
        } else {
          EXPECT_GE(seen, 2) << "byte 0x" << std::hex << expected;
        }
      }
    }
  }
}

// The module's own decoder fed the polls: one fresh report for any press,
// repeats for a hold long enough, at every phase of the poll.
TEST_F(SimCardClockTest, TheModulesDecoderSeesOnePressAndRepeatsOnlyForALongHold) {
  struct Case {
    unsigned holdMs;
    int leastRepeats;
    int mostRepeats;
  };
  for (const Case& holding : {Case{100, 0, 0}, Case{250, 0, 0}, Case{350, 1, 1}, Case{1000, 4, 4}}) {
    for (uint32_t phase = 0; phase < 20; ++phase) {
      SCOPED_TRACE(::testing::Message() << "held " << holding.holdMs << " ms, polls at phase " << phase << " ms");
      clock_.polls.clear();
      StartPolling(phase);
      kolvane_simcard_set_receiver(card_, 0xFF);
      clock_.Sleep(40);  // the loop sees the idle receiver first
      ASSERT_EQ(kolvane_simcard_press(card_, "ChannelUp", holding.holdMs), 0);
      const Reports reports = Decode(clock_.polls);
      for (const std::string& key : reports.keys) EXPECT_EQ(key, "Kolvane_ChannelUp");
      EXPECT_EQ(reports.fresh, 1);
      EXPECT_GE(reports.repeats, holding.leastRepeats);
      EXPECT_LE(reports.repeats, holding.mostRepeats);
    }
  }
}

// --- When a hold repeats ---

// The first repeat comes at the first poll more than 200 ms after the last
// poll of the key's code: with polls exactly 20 ms apart, the 11th after it.
// The code shows 100 ms, so a hold repeats exactly when it is longer than
// 300 ms plus the phase (the first poll's time into the press), and once
// more for every 220 ms beyond; by either press, which show the same bytes.
// So a host sees the first repeat 300 ms after the fresh report, and the
// next ones 220 ms apart.
TEST_F(SimCardClockTest, AHoldRepeatsExactlyWhenLongerThan300MsPlusThePhaseAndAgainEvery220Ms) {
  for (bool live : {false, true}) {
    for (uint32_t phase = 0; phase < 20; ++phase) {
      for (unsigned holdMs : {280u, 300u, 300u + phase, 301u + phase, 320u, 520u + phase, 521u + phase, 1000u}) {
        SCOPED_TRACE(::testing::Message() << (live ? "live" : "waiting") << " press held " << holdMs
                                          << " ms, first poll " << phase << " ms into it");
        clock_.polls.clear();
        clock_.lastPolled = -1;
        StartPolling(phase);
        clock_.Sleep(40);  // two polls of the idle receiver; the next comes `phase` ms on
        ASSERT_EQ(live ? kolvane_simcard_press_live(card_, "VolumeUp", holdMs)
                       : kolvane_simcard_press(card_, "VolumeUp", holdMs),
                  0);
        int expected = 0;
        while (holdMs > 300 + phase + 220 * static_cast<unsigned>(expected)) ++expected;
        const Reports reports = Decode(clock_.polls);
        EXPECT_EQ(reports.fresh, 1);
        EXPECT_EQ(reports.repeats, expected);
        for (size_t i = 1; i < reports.atMs.size(); ++i) {
          EXPECT_EQ(reports.atMs[i] - reports.atMs[i - 1], i == 1 ? 300u : 220u) << "report " << i;
        }
      }
    }
  }
}

TEST_F(SimCardClockTest, A300MsHoldNeverRepeatsAndA320MsHoldAlwaysDoes) {
  for (uint32_t phase = 0; phase < 20; ++phase) {
    for (unsigned holdMs : {300u, 320u}) {
      SCOPED_TRACE(::testing::Message() << "held " << holdMs << " ms, first poll " << phase << " ms into it");
      clock_.polls.clear();
      clock_.lastPolled = -1;
      StartPolling(phase);
      clock_.Sleep(40);
      ASSERT_EQ(kolvane_simcard_press_live(card_, "Mute", holdMs), 0);
      EXPECT_EQ(Decode(clock_.polls).repeats, holdMs == 300 ? 0 : 1);
    }
  }
}

// --- Live presses: a real remote's pace ---

using Shown = VirtualClock::Shown;

TEST_F(SimCardClockTest, ALivePressShowsEachByteForItsOwnTimeWhateverThePollsDo) {
  StartPolling(0);
  clock_.Sleep(40);
  clock_.shown.clear();
  clock_.slowFirstKeyMs = 350;  // the poll after the key's comes 350 ms late
  KolvaneSimCardLivePress live;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "ChannelUp", 100, &live), 0);
  EXPECT_THAT(clock_.shown, ElementsAre(Shown{0xD8, 100}, Shown{0xFF, 100}));
  ASSERT_EQ(live.count, 2);
  EXPECT_EQ(live.shown[0].receiver_byte, 0xD8u);
  EXPECT_EQ(live.shown[0].ms, 100u);
  EXPECT_EQ(live.shown[1].receiver_byte, 0xFFu);
  EXPECT_EQ(live.shown[1].ms, 100u);
  EXPECT_EQ(live.polls[0], 1u);  // the key's byte, then the held-up poll
  EXPECT_EQ(live.polls[1], 0u);

  clock_.stopPollingAtMs = clock_.nowMs;  // no poll at all
  clock_.shown.clear();
  const uint32_t began = clock_.nowMs;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "VolumeUp", 1000, &live), 1);
  EXPECT_THAT(clock_.shown, ElementsAre(Shown{0x58, 100}, Shown{0x59, 900}, Shown{0xFF, 100}));
  EXPECT_EQ(clock_.nowMs - began, 1100u);
  ASSERT_EQ(live.count, 3);
  EXPECT_EQ(live.shown[1].receiver_byte, 0x59u);
  EXPECT_EQ(live.shown[1].ms, 900u);
  EXPECT_THAT(live.polls, ElementsAre(0u, 0u, 0u));

  clock_.shown.clear();
  EXPECT_EQ(kolvane_simcard_press_live(card_, "Mute", 10), 1);  // as press: at least 60 ms
  EXPECT_THAT(clock_.shown, ElementsAre(Shown{0x08, 60}, Shown{0xFF, 100}));
  EXPECT_EQ(ReceiverByte(card_), 0xFFu);
}

TEST_F(SimCardClockTest, ALivePressSaysHowLongASleepThatRanOverShowedEachByte) {
  StartPolling(0);
  clock_.Sleep(40);
  clock_.sleepTickMs = 16;  // Windows' Sleep: 100 ms lasts 112
  KolvaneSimCardLivePress live;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "Enter", 100, &live), 0);
  ASSERT_EQ(live.count, 2);
  EXPECT_EQ(live.shown[0].ms, 112u);
  EXPECT_EQ(live.shown[1].ms, 112u);
}

TEST_F(SimCardClockTest, ALivePressCountsThePollsThatReadEachOfItsBytesAtAnyPhase) {
  for (unsigned holdMs : {100u, 350u}) {
    for (uint32_t phase = 0; phase < 20; ++phase) {
      SCOPED_TRACE(::testing::Message() << "held " << holdMs << " ms, polls at phase " << phase << " ms");
      clock_.polls.clear();
      StartPolling(phase);
      clock_.Sleep(40);
      clock_.polls.clear();
      KolvaneSimCardLivePress live;
      ASSERT_EQ(kolvane_simcard_press_live_polls(card_, "ChannelDown", holdMs, &live), 0);
      ASSERT_EQ(live.count, holdMs > 100 ? 3 : 2);
      EXPECT_EQ(live.polls[0], 5u);  // 100 ms of 20 ms polls
      EXPECT_EQ(live.polls[live.count - 1], 5u);
      for (int i = 0; i < live.count; ++i) {
        EXPECT_EQ(live.polls[i], static_cast<unsigned long>(PollsOf(clock_.polls, live.shown[i].receiver_byte)))
            << "byte 0x" << std::hex << live.shown[i].receiver_byte;
      }
      // Polls after the press count for none of its bytes.
      clock_.Sleep(200);
      EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "ChannelDown", 100, &live), 0);
      EXPECT_EQ(live.polls[1], 5u);
    }
  }
}

TEST_F(SimCardClockTest, ALivePressBeforeTheModuleSawTheIdleReceiverIsLost) {
  StartPolling(0);  // the first poll reads the key's byte: the module reports nothing yet
  KolvaneSimCardLivePress live;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "TV", 100, &live), 1);
  EXPECT_EQ(live.polls[0], 5u);
  EXPECT_EQ(Decode(clock_.polls).fresh, 0);
  EXPECT_EQ(kolvane_simcard_press_live(card_, "TV", 100), 0);  // it has seen the idle byte since
}

TEST_F(SimCardClockTest, ALivePressWhoseIdleByteNoPollSawIsLostThoughItsCodeWasRead) {
  StartPolling(0);
  clock_.Sleep(40);
  clock_.slowKeyMs = 200;  // the next poll lands on the second press's byte, after no idle
  KolvaneSimCardLivePress live;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "Mute", 100, &live), 0);
  EXPECT_EQ(live.polls[1], 0u);
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "Mute", 100, &live), 1);
  EXPECT_GE(live.polls[0], 1u);
  const Reports reports = Decode(clock_.polls);
  EXPECT_EQ(reports.fresh, 1);  // the module, too, saw one Mute
}

TEST_F(SimCardClockTest, ALivePressIsRefusedAtOnceAsAPressIs) {
  StartPolling(0);
  KolvaneSimCardLivePress live;
  live.count = 7;
  EXPECT_EQ(kolvane_simcard_press_live_polls(card_, "ChanelUp", 100, &live), -1);
  EXPECT_EQ(live.count, 0);
  EXPECT_EQ(kolvane_simcard_press_live(card_, "Mute", KOLVANE_MAX_HOLD_MS + 1), -1);
  EXPECT_EQ(kolvane_simcard_press_live(card_, nullptr, 100), -1);
  EXPECT_EQ(kolvane_simcard_press_live(nullptr, "Mute", 100), -1);
  EXPECT_EQ(kolvane_simcard_press_live_polls(nullptr, "Mute", 100, nullptr), -1);
  EXPECT_THAT(clock_.shown, IsEmpty());
  EXPECT_EQ(clock_.nowMs, 0u);
}

// Ten digits typed at a remote's pace: an OnKey that takes 300 ms holds the
// polls up past the next press, so at least every other one is lost; a
// quick OnKey loses none. Each result agrees with what the module's decoder
// makes of the polls.
TEST_F(SimCardClockTest, LivePressesAreLostBehindAnOnKeyOf300MsAndNoneBehindAQuickOne) {
  static const char* const digits[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"};
  for (uint32_t onKeyMs : {0u, 300u}) {
    for (uint32_t phase = 0; phase < 20; phase += 3) {
      SCOPED_TRACE(::testing::Message() << "OnKey " << onKeyMs << " ms, polls at phase " << phase << " ms");
      clock_.polls.clear();
      clock_.lastPolled = -1;
      StartPolling(phase);
      clock_.Sleep(40);
      clock_.slowKeyMs = onKeyMs;
      int arrived = 0;
      for (const char* digit : digits) {
        const int result = kolvane_simcard_press_live(card_, digit, 100);
        ASSERT_GE(result, 0);
        arrived += result == 0 ? 1 : 0;
      }
      clock_.slowKeyMs = 0;
      EXPECT_EQ(Decode(clock_.polls).fresh, arrived);
      if (onKeyMs == 0) {
        EXPECT_EQ(arrived, 10);
      } else {
        EXPECT_LE(arrived, 5);
        EXPECT_GE(arrived, 1);
      }
    }
  }
}

// --- Keys by name ---

TEST_F(SimCardClockTest, AnUnknownKeyReturnsAtOnceAndShowsNothing) {
  kolvane_simcard_set_receiver(card_, 0x68);
  for (const char* key : {"ChanelUp", "", "Kolvane_", "Kolvane_Power", "0x58", " ChannelUp"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(kolvane_simcard_press(card_, key, 100), -1);
  }
  EXPECT_EQ(kolvane_simcard_press(card_, nullptr, 100), -1);
  EXPECT_EQ(kolvane_simcard_press(nullptr, "ChannelUp", 100), -1);
  EXPECT_THAT(clock_.shown, IsEmpty());
  EXPECT_EQ(clock_.nowMs, 0u);
  EXPECT_EQ(ReceiverByte(card_), 0x68u);  // untouched
}

TEST_F(SimCardClockTest, AKeyIsFoundByNameShortNameOrLabelInAnyCase) {
  struct Spelling {
    const char* text;
    const char* name;
  };
  for (const Spelling& spelling :
       {Spelling{"Kolvane_ChannelUp", "Kolvane_ChannelUp"}, Spelling{"kolvane_channelup", "Kolvane_ChannelUp"},
        Spelling{"CHANNELUP", "Kolvane_ChannelUp"}, Spelling{"power", "Kolvane_Exit"}, Spelling{"Exit", "Kolvane_Exit"},
        Spelling{"tv", "Kolvane_TV"}, Spelling{"7", "Kolvane_7"}, Spelling{"Kolvane_0", "Kolvane_0"}}) {
    SCOPED_TRACE(spelling.text);
    const KolvaneKey* key = kolvane_simcard_key(spelling.text);
    ASSERT_NE(key, nullptr);
    EXPECT_STREQ(key->name, spelling.name);
  }
}

TEST_F(SimCardClockTest, EveryKeyOfThePublicListIsPressedWithItsOwnCode) {
  struct Listed {
    const char* name;
    const char* label;
    unsigned code;
  };
#define KOLVANE_TEST_LISTED(name, label, code) Listed{name, label, code},
  const std::vector<Listed> keys = {KOLVANE_KEYS(KOLVANE_TEST_LISTED)};
#undef KOLVANE_TEST_LISTED
  ASSERT_EQ(keys.size(), 31u);
  StartPolling(0);
  for (const Listed& key : keys) {
    SCOPED_TRACE(key.name);
    clock_.shown.clear();
    ASSERT_EQ(kolvane_simcard_press(card_, key.name, 100), 0);
    EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{key.code, 100}, VirtualClock::Shown{0xFF, 100}));
    if (key.label[0] != '\0') {
      ASSERT_NE(kolvane_simcard_key(key.label), nullptr);
      EXPECT_STREQ(kolvane_simcard_key(key.label)->name, key.name);
    }
  }
}

// --- The card as a COM object ---

TEST_F(SimCardClockTest, TheRegistersTakeNoReferenceAndQueryInterfaceCountsEach) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  ASSERT_NE(registers, nullptr);
  EXPECT_EQ(kolvane_simcard_references(card_), 0);

  void* asRegisters = nullptr;
  void* asUnknown = nullptr;
  EXPECT_EQ(registers->QueryInterface(IID_IDeviceRegisters, &asRegisters), S_OK);
  EXPECT_EQ(asRegisters, static_cast<void*>(registers));
  EXPECT_EQ(registers->QueryInterface(IID_IUnknown, &asUnknown), S_OK);
  EXPECT_EQ(asUnknown, static_cast<void*>(static_cast<IUnknown*>(registers)));
  EXPECT_EQ(kolvane_simcard_references(card_), 2);

  void* asModule = &asModule;
  EXPECT_EQ(registers->QueryInterface(IID_IRemoteModule, &asModule), E_NOINTERFACE);
  EXPECT_EQ(asModule, nullptr);
  EXPECT_EQ(registers->QueryInterface(IID_IDeviceRegisters, nullptr), E_POINTER);
  EXPECT_EQ(kolvane_simcard_references(card_), 2);

  EXPECT_EQ(registers->AddRef(), 3u);
  EXPECT_EQ(registers->Release(), 2u);
  EXPECT_EQ(registers->Release(), 1u);
  EXPECT_EQ(registers->Release(), 0u);
  EXPECT_EQ(kolvane_simcard_references(card_), 0);
}

TEST_F(SimCardClockTest, FreeingACardStillReferencedFailsAndFreesNothing) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  registers->AddRef();
  EXPECT_EQ(kolvane_simcard_free(card_), -1);
  EXPECT_EQ(frees, 0);
  // Still a working card.
  kolvane_simcard_set_receiver(card_, 0xD8);
  EXPECT_EQ(ReceiverByte(card_), 0xD8u);

  registers->Release();
  EXPECT_EQ(kolvane_simcard_free(card_), 0);
  EXPECT_EQ(frees, 1);
  card_ = nullptr;
}

TEST_F(SimCardClockTest, FreeingACardReleasedMoreOftenThanReferencedFails) {
  kolvane_simcard_registers(card_)->Release();
  EXPECT_EQ(kolvane_simcard_references(card_), -1);
  EXPECT_EQ(kolvane_simcard_free(card_), -1);
  EXPECT_EQ(frees, 0);
  kolvane_simcard_registers(card_)->AddRef();
}

TEST_F(SimCardClockTest, ANewCardIsNullWhenMemoryRunsOut) {
  outOfMemory = true;
  EXPECT_EQ(kolvane_simcard_new(), nullptr);
  outOfMemory = false;
  EXPECT_EQ(kolvane_simcard_free(nullptr), 0);
  EXPECT_EQ(allocations, 1);  // the fixture's card only
}

// --- Registers ---

TEST_F(SimCardClockTest, TheSetUpIsReadBackAndTheReceiverByteStaysTheReceivers) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  uint32_t value = 1;
  for (uint32_t offset : {0x10Cu, 0x118u}) {
    EXPECT_EQ(registers->ReadRegister(offset, &value), S_OK);
    EXPECT_EQ(value, 0u);
  }
  EXPECT_EQ(registers->ReadRegister(0x200, &value), S_OK);
  EXPECT_EQ(value, 0x00FF0000u);  // idle

  EXPECT_EQ(registers->WriteRegister(0x10C, 0x80000005), S_OK);
  EXPECT_EQ(registers->WriteRegister(0x118, 0x00007F0F), S_OK);
  EXPECT_EQ(registers->WriteRegister(0x200, 0x12347FC2), S_OK);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x10C), 0x80000005u);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x118), 0x00007F0Fu);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x200), 0x12FF7FC2u);  // bits 16-23 are the receiver's
  kolvane_simcard_set_receiver(card_, 0x1D8);                      // only the low byte counts
  EXPECT_EQ(registers->ReadRegister(0x200, &value), S_OK);
  EXPECT_EQ(value, 0x12D87FC2u);
}

TEST_F(SimCardClockTest, AnOffsetTheCardDoesNotHaveIsRefused) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  uint32_t value = 1;
  EXPECT_EQ(registers->ReadRegister(0x204, &value), E_UNEXPECTED);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(registers->WriteRegister(0x204, 1), E_UNEXPECTED);
  EXPECT_EQ(kolvane_simcard_register(card_, 0x204), 0u);
  EXPECT_EQ(registers->ReadRegister(0x200, nullptr), E_POINTER);
}

TEST_F(SimCardClockTest, ReadsCountThePollsAfterTheSetUpOnly) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  uint32_t value = 0;
  registers->ReadRegister(0x200, &value);  // the set-up's read
  EXPECT_EQ(kolvane_simcard_reads(card_), 0u);
  registers->WriteRegister(0x200, value | 0x7FC2);
  registers->ReadRegister(0x10C, &value);
  EXPECT_EQ(kolvane_simcard_reads(card_), 0u);
  registers->ReadRegister(0x200, &value);
  registers->ReadRegister(0x200, &value);
  EXPECT_EQ(kolvane_simcard_reads(card_), 2u);
}

TEST_F(SimCardClockTest, WaitingForReadsEndsAtTheCountOrGivesUpAfterTheTimeout) {
  EXPECT_EQ(kolvane_simcard_wait_reads(card_, 1, 100), -1);
  EXPECT_GE(clock_.nowMs, 100u);
  EXPECT_LE(clock_.nowMs, 110u);

  StartPolling(0);
  const uint32_t start = clock_.nowMs;
  EXPECT_EQ(kolvane_simcard_wait_reads(card_, 3, 1000), 0);
  EXPECT_GE(kolvane_simcard_reads(card_), 3u);
  EXPECT_LE(clock_.nowMs - start, 60u);
  EXPECT_EQ(kolvane_simcard_wait_reads(nullptr, 1, 10), -1);
}

// --- Presses tied to the module's polls ---

TEST_F(SimCardClockTest, APressWaitsForTwoReadsOfEachByteWhenASlowSinkHoldsThePollsUp) {
  StartPolling(0);
  clock_.Sleep(40);  // the loop sees the idle receiver first
  clock_.slowFirstKeyMs = 350;
  for (const char* key : {"ChannelUp", "VolumeUp", "Mute", "Power"}) {
    SCOPED_TRACE(key);
    clock_.polls.clear();
    ASSERT_EQ(kolvane_simcard_press(card_, key, 100), 0);
    EXPECT_GE(PollsOf(clock_.polls, kolvane_simcard_key(key)->code), 2);
    EXPECT_GE(PollsOf(clock_.polls, 0xFF), 2);
  }
  // The first press waited out the slow poll: its byte stayed 350 ms and more.
  EXPECT_GE(clock_.shown[1].ms, 350u);
}

TEST_F(SimCardClockTest, APressNobodyPollsGivesUpAfterTheBoundWithTheReceiverIdle) {
  EXPECT_EQ(kolvane_simcard_press(card_, "ChannelUp", 100), -1);
  EXPECT_EQ(clock_.nowMs, 3000u);
  EXPECT_EQ(ReceiverByte(card_), 0xFFu);
  // A poll before the set-up is no poll.
  kolvane_simcard_set_receiver(card_, 0xFF);
  clock_.polling = true;
  clock_.nextPollMs = clock_.nowMs;
  EXPECT_EQ(kolvane_simcard_press(card_, "ChannelUp", 1000), -1);
  EXPECT_EQ(clock_.nowMs, 6000u);
}

TEST_F(SimCardClockTest, PollsThatStopDuringAHoldEndThePressWithTheReceiverIdle) {
  StartPolling(0);
  clock_.stopPollingAtMs = 500;  // the module stopped, 400 ms into a hold of 10 s
  EXPECT_EQ(kolvane_simcard_press(card_, "VolumeUp", 10000), -1);
  // The held byte had its two reads by 125 ms; the press looks again at
  // 3125 ms (polls came since) and at 6125 ms (none for the bound).
  EXPECT_EQ(clock_.nowMs, 6125u);
  EXPECT_EQ(ReceiverByte(card_), 0xFFu);
  EXPECT_THAT(clock_.shown, ElementsAre(VirtualClock::Shown{0x58, 100}, VirtualClock::Shown{0x59, 6025}));
}

TEST_F(SimCardClockTest, AHoldOverAnHourIsRefusedAtOnceAndAnHourIsNot) {
  StartPolling(0);
  for (unsigned holdMs : {3600001u, static_cast<unsigned>(-1)}) {
    SCOPED_TRACE(holdMs);
    EXPECT_EQ(kolvane_simcard_press(card_, "Mute", holdMs), -1);
    EXPECT_THAT(clock_.shown, IsEmpty());
    EXPECT_EQ(clock_.nowMs, 0u);
  }
  KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES];
  EXPECT_EQ(kolvane_simcard_phases(0x08, 3600001u, phases), 0);
  ASSERT_EQ(kolvane_simcard_phases(0x08, 3600000u, phases), 3);
  EXPECT_EQ(phases[1].receiver_byte, 0x09u);
  EXPECT_EQ(phases[1].ms, 3600000u - 100u);
}

TEST_F(SimCardClockTest, EveryStartCountsItsReadsAfreshAfterItsOwnSetUp) {
  IDeviceRegisters* registers = kolvane_simcard_registers(card_);
  for (int start = 1; start <= 3; ++start) {
    SCOPED_TRACE(::testing::Message() << "start " << start);
    registers->AddRef();  // Start takes the card
    EXPECT_EQ(kolvane_simcard_reads(card_), 0u);
    EXPECT_EQ(kolvane_simcard_wait_reads(card_, 1, 100), -1) << "no poll yet";
    uint32_t value = 0;
    for (uint32_t offset : {0x10Cu, 0x118u, 0x200u}) {  // the set-up: read, OR, write
      registers->ReadRegister(offset, &value);
      registers->WriteRegister(offset, value | 0x4);
    }
    EXPECT_EQ(kolvane_simcard_reads(card_), 0u) << "the set-up's read of 0x200 is no poll";
    registers->ReadRegister(0x200, &value);
    EXPECT_EQ(kolvane_simcard_wait_reads(card_, 1, 100), 0);
    registers->ReadRegister(0x200, &value);
    EXPECT_EQ(kolvane_simcard_reads(card_), 2u);
    registers->Release();  // Stop gives it back
  }
}

TEST_F(SimCardClockTest, AWaitForReadsEndsOnTheClockHoweverLongEachSleepLasts) {
  clock_.sleepTickMs = 16;  // each sleep of 5 ms lasts 16
  EXPECT_EQ(kolvane_simcard_wait_reads(card_, 1, 1000), -1);
  EXPECT_GE(clock_.nowMs, 1000u);
  EXPECT_LT(clock_.nowMs, 1016u);
}

}  // namespace
