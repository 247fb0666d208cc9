// Whole sessions: a script played in real time on the simulated device, the
// real module loaded from beside the test binary. Only what a 20 ms poll
// cannot miss is asserted exactly; repeat counts get a generous range.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "diagnosis/compare.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/replay/fast_replay.h"
#include "host/script/receiver_schedule.h"
#include "host/script/script.h"
#include "host/session/script_runner.h"
#include "host/session/session.h"
#include "testbed/module_loader.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::Ge;
using ::testing::Le;
using ::testing::SizeIs;

class SilentOutput final : public SessionOutput {
 public:
  void Begin(const std::string&, const std::string&) override {}
  void Action(int64_t, const std::string&) override {}
  void Key(const KeyReport&) override {}
  void Register(const RegisterRecord&) override {}
  void End(const Summary&, const SessionFiles&) override {}
  void Problem(const std::string&) override {}
  void Run(size_t, size_t, int, const std::string&) override {}
  void Compared(const TraceComparison&) override {}
};

// A terminal that takes a while for every key line (a console under Wine
// took tens of milliseconds).
class SlowOutput final : public SessionOutput {
 public:
  void Begin(const std::string&, const std::string&) override {}
  void Action(int64_t, const std::string&) override {}
  void Key(const KeyReport&) override { std::this_thread::sleep_for(std::chrono::milliseconds(250)); }
  void Register(const RegisterRecord&) override {}
  void End(const Summary&, const SessionFiles&) override {}
  void Problem(const std::string&) override {}
  void Run(size_t, size_t, int, const std::string&) override {}
  void Compared(const TraceComparison&) override {}
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.Load(testbed::ModulePathBesideExecutable())) << module_.error(); }

  // Plays `text` as kolvane-host does (`fast`: as --fast and --compare do)
  // and returns what was recorded.
  SessionRecord Play(const std::string& text, bool fast = false, SessionOutput* output = nullptr) {
    Script script;
    std::vector<std::string> errors;
    EXPECT_TRUE(ParseScript(text, "test", &script, &errors)) << ::testing::PrintToString(errors);
    ReceiverSchedule schedule = BuildReceiverSchedule(script);
    if (fast) MarkQuietChanges(&schedule, ChangesWithReports(schedule, script, ReadTrace(text).runs.front()));
    Session session(module_.factory(), output != nullptr ? output : &output_);
    std::string error;
    EXPECT_TRUE(session.Start(&error, schedule.startByte)) << error;
    const std::atomic<bool> interrupted{false};
    EXPECT_TRUE(PlaySchedule(session, script, schedule, interrupted));
    EXPECT_TRUE(session.Stop(&error)) << error;
    return session.record();
  }

  static std::vector<std::string> Fresh(const SessionRecord& record) {
    std::vector<std::string> names;
    for (const KeyReport& report : record.reports) {
      if (!report.repeat) names.push_back(report.name);
    }
    return names;
  }
  static std::vector<KeyReport> Held(const SessionRecord& record) {
    std::vector<KeyReport> held;
    for (const KeyReport& report : record.reports) {
      if (report.repeat) held.push_back(report);
    }
    return held;
  }

  testbed::LoadedModule module_;
  SilentOutput output_;
};

TEST_F(SessionTest, PressesAreReportedOnceEachInOrder) {
  const SessionRecord record = Play(
      "press ChannelUp\n"
      "press 7\n"
      "press 7\n"  // the same key again: the idle between makes it a new press
      "wait 100ms\n"
      "press Power\n"
      "press tv\n");
  EXPECT_THAT(Fresh(record), ElementsAre("Kolvane_ChannelUp", "Kolvane_7", "Kolvane_7", "Kolvane_Exit", "Kolvane_TV"));
  EXPECT_THAT(Held(record), SizeIs(0));
  EXPECT_EQ(record.buttonsPressed, 5);
  EXPECT_EQ(record.reports[3].label, "Power");
  EXPECT_EQ(record.reports[4].label, "");
  for (const KeyReport& report : record.reports) {
    EXPECT_TRUE(report.sincePress);
    EXPECT_GE(report.delayUs, 0) << report.name;
  }
}

TEST_F(SessionTest, AHoldIsOnePressThenRepeatsOfTheSameKey) {
  const SessionRecord record = Play("hold VolumeUp 1s\npress Mute\n");
  EXPECT_THAT(Fresh(record), ElementsAre("Kolvane_VolumeUp", "Kolvane_Mute"));
  // 900 ms of held state: nominally repeats at about 300, 500, 700 and 900 ms.
  const std::vector<KeyReport> held = Held(record);
  EXPECT_THAT(held, AllOf(SizeIs(Ge(1u)), SizeIs(Le(4u))));
  EXPECT_THAT(held, Each(Field(&KeyReport::name, "Kolvane_VolumeUp")));
  for (const KeyReport& report : held) {
    EXPECT_FALSE(report.sincePress);
    EXPECT_GT(report.delayUs, 200000) << "repeats come more than 200 ms apart";
  }
}

TEST_F(SessionTest, ASlowOutputDelaysNeitherThePollsNorTheRepeats) {
  SlowOutput slow;
  const SessionRecord record = Play("hold VolumeUp 1.2s\n", false, &slow);
  // Generous bounds on a busy machine; a host that wrote from OnKey would
  // hold the poll thread 250 ms at every report.
  for (size_t i = 1; i < record.polls.size(); ++i) {
    EXPECT_LT(record.polls[i].us - record.polls[i - 1].us, 150000) << "poll " << i;
  }
  // The first repeat counts from the press's report; the later ones come
  // about 201 ms apart, late polls on a loaded machine included, and never
  // the 450 ms of a repeat that waited behind a 250 ms write.
  const std::vector<KeyReport> repeats = Held(record);
  ASSERT_THAT(repeats, SizeIs(Ge(3u)));
  for (size_t i = 1; i < repeats.size(); ++i) EXPECT_LT(repeats[i].delayUs, 400000) << "at " << repeats[i].us;
  EXPECT_EQ(record.outputDropped, 0u) << "slow, but the queue keeps up with a remote";
}

// A module whose Start fails with E_UNEXPECTED.
class RefusingModule final : public IRemoteModule {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 0; }
  HRESULT STDMETHODCALLTYPE Start(IRemoteKeySink*, IUnknown*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Reserved() override { return S_OK; }
};

IRemoteModule* STDMETHODCALLTYPE RefusingFactory() {
  static RefusingModule module;
  return &module;
}

TEST(SessionStart, ARefusalShowsTheResultAsThirtyTwoBits) {
  SilentOutput output;
  Session session(&RefusingFactory, &output);
  std::string error;
  EXPECT_FALSE(session.Start(&error));
  EXPECT_EQ(error, "the module refused to start (0x8000FFFF)");
}

TEST_F(SessionTest, RawBytesGoToTheDecoderAsTheyAre) {
  const SessionRecord record = Play(
      "raw 0x6C 80ms\n"  // bit 2 ignored: TV
      "raw 0xFF 80ms\n"
      "raw 0xD0 80ms\n"  // no key
      "raw 0xFF 80ms\n"
      "raw 0x5A 80ms\n"  // bit 1 set: no key
      "raw 0xFF 80ms\n");
  EXPECT_THAT(Fresh(record), ElementsAre("Kolvane_TV"));
  EXPECT_EQ(record.buttonsPressed, 1) << "a code no key has is no button";
  EXPECT_EQ(record.unknownCodes, 2);
}

TEST_F(SessionTest, RecordsTheSetUpApartFromThePolls) {
  const SessionRecord record = Play("press 1\n");
  ASSERT_THAT(record.setup, SizeIs(6));
  EXPECT_EQ(record.setup[1].access.offset, 0x10Cu);
  EXPECT_TRUE(record.setup[1].access.write);
  EXPECT_EQ(record.setup[5].access.offset, 0x200u);
  EXPECT_TRUE(record.setup[5].access.write);
  // Script 200 ms plus the tail: at 20 ms a poll, at least a handful.
  EXPECT_GE(record.polls.size(), 5u);
  for (size_t i = 1; i < record.polls.size(); ++i) EXPECT_LE(record.polls[i - 1].us, record.polls[i].us);
  EXPECT_EQ(record.polls.front().byte, 0xFF) << "the script waits for the module to see the idle receiver";
}

// A trace begins at the module's first poll, with whatever the receiver
// showed then; its replay must begin there too.
const char kTraceHeader[] = "# kolvane 1.0.0 trace, linux x86_64, started 2026-12-09 02:36:19\n";

TEST_F(SessionTest, AKeyAlreadyDownWhenATracedRunBeganIsNotReportedByItsReplay) {
  const SessionRecord record = Play(std::string(kTraceHeader) +
                                    "raw 0xD8 300ms\n"  // down at Start: the module has seen no byte with bit 0 set
                                    "raw 0xFF 200ms\n"
                                    "# 0.520s Kolvane_ChannelUp fresh\n"
                                    "raw 0xD8 100ms\n"
                                    "raw 0xFF 100ms\n");
  EXPECT_THAT(Fresh(record), ElementsAre("Kolvane_ChannelUp"));
  EXPECT_EQ(record.polls.front().byte, 0xD8) << "the first poll sees the trace's first byte";
}

TEST_F(SessionTest, ARegisterReadingZeroWhenATracedRunBeganIsNotReportedByItsReplay) {
  const SessionRecord record = Play(std::string(kTraceHeader) + "raw 0x00 300ms\nraw 0xFF 200ms\n");
  EXPECT_THAT(record.reports, SizeIs(0)) << "0x00 is Left's code, but the run it came from reported nothing";
}

TEST_F(SessionTest, AFastReplayCutsIdleSpellsShortAndMakesTheTracesReports) {
  // Three idle spells of 4 s; a press, a hold with its repeats, and a held
  // byte straight after idle, whose first repeat counts from the idle
  // spell's last silent repeat.
  const std::string trace = std::string(kTraceHeader) +
                            "raw 0xFF 4000ms\n"
                            "# 4.020s Kolvane_ChannelUp fresh\n"
                            "raw 0xD8 100ms\n"
                            "raw 0xFF 4000ms\n"
                            "# 8.120s Kolvane_VolumeUp fresh\n"
                            "raw 0x58 100ms\n"
                            "# 8.420s Kolvane_VolumeUp repeat\n"
                            "# 8.621s Kolvane_VolumeUp repeat\n"
                            "raw 0x59 500ms\n"
                            "raw 0xFF 4000ms\n"
                            "raw 0x01 100ms\n"
                            "raw 0xFF 100ms\n";
  const SessionRecord record = Play(trace, true);
  std::vector<TracedReport> got;
  for (const KeyReport& report : record.reports)
    got.push_back(TracedReport{report.us / 1000, report.name, report.repeat});
  EXPECT_EQ(FirstDifference(ReadTrace(trace).runs.front().reports, got), "");
  EXPECT_LT(record.endUs, 9000000) << "12.9 s of trace; the first two idle spells are cut short, the third not";
}

}  // namespace
}  // namespace host
}  // namespace kolvane
