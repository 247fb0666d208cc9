// The session's output queue: what the module's poll thread and the driver
// put is written in order on the writer thread; a stalled output never holds
// a caller up, and what a full ring cannot take is counted.
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "host/session/output_queue.h"
#include "tests/support/latch.h"

namespace kolvane {
namespace host {
namespace {

using ::testing::ElementsAre;

// Records each line it is given; with a latch, the first key blocks on it
// as a write to a stalled terminal would.
class RecordingOutput final : public SessionOutput {
 public:
  explicit RecordingOutput(test::Latch* stall = nullptr) : stall_(stall) {}
  void Begin(const std::string&, const std::string&) override {}
  void Action(int64_t, const std::string& text) override { lines.push_back("step " + text); }
  void Key(const KeyReport& report) override {
    if (stall_ != nullptr && lines.empty()) stall_->Wait();
    lines.push_back("key " + report.name);
  }
  void Register(const RegisterRecord& record) override {
    lines.push_back("register " + std::to_string(record.access.offset));
  }
  void End(const Summary&, const SessionFiles&) override {}
  void Problem(const std::string&) override {}
  void Run(size_t, size_t, int, const std::string&) override {}
  void Compared(const TraceComparison&) override {}

  std::vector<std::string> lines;  // read once the queue is closed

 private:
  test::Latch* const stall_;
};

KeyReport Key(const std::string& name) { return KeyReport{0, name, "", false, 0, true}; }

TEST(OutputQueue, WritesEveryLineInTheOrderItWasPut) {
  RecordingOutput output;
  OutputQueue queue(&output, 8);
  queue.Start();
  EXPECT_TRUE(queue.Register(RegisterRecord{0, testbed::RegisterAccess{true, 0x200, 0}}));
  EXPECT_TRUE(queue.Action(1000, "press TV"));
  EXPECT_TRUE(queue.Key(Key("Kolvane_TV")));
  queue.Close();
  EXPECT_THAT(output.lines, ElementsAre("register 512", "step press TV", "key Kolvane_TV"));
  EXPECT_EQ(queue.dropped(), 0u);
}

TEST(OutputQueue, AStalledOutputNeverHoldsUpTheCallerAndAFullRingCountsWhatItDrops) {
  test::Latch stall;
  RecordingOutput output(&stall);
  OutputQueue queue(&output, 8);
  queue.Start();
  ASSERT_TRUE(queue.Key(Key("first")));
  ASSERT_TRUE(stall.WaitForWaiter()) << "the writer took the first line";
  // The writer is stuck in the first line; every put below returns at once.
  int accepted = 0;
  for (int i = 0; i < 20; ++i) accepted += queue.Key(Key("k" + std::to_string(i))) ? 1 : 0;
  EXPECT_EQ(accepted, 7) << "the ring holds 8, one of them the line being written";
  EXPECT_EQ(queue.dropped(), 13u);
  stall.Open();
  queue.Close();
  EXPECT_EQ(output.lines.size(), 8u);
  EXPECT_EQ(output.lines.back(), "key k6");
}

TEST(OutputQueue, LinesFromSeveralThreadsAllArriveEachThreadsInItsOrder) {
  RecordingOutput output;
  OutputQueue queue(&output, 1024);
  queue.Start();
  constexpr int kThreads = 3;
  constexpr int kLines = 2000;  // more than the ring: the writer drains while they put
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&queue, t] {
      for (int i = 0; i < kLines; ++i) {
        while (!queue.Action(i, std::to_string(t) + " " + std::to_string(i))) std::this_thread::yield();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  queue.Close();
  ASSERT_EQ(output.lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : output.lines) {
    const int t = line[5] - '0';
    EXPECT_EQ(line, "step " + std::to_string(t) + " " + std::to_string(next[t]));
    ++next[t];
  }
}

TEST(OutputQueue, ClosedWithoutAWriterItWritesWhatItHoldsOnTheClosingThread) {
  RecordingOutput output;
  OutputQueue queue(&output, 4);
  queue.Action(0, "wait 1s");
  queue.Close();
  EXPECT_THAT(output.lines, ElementsAre("step wait 1s"));
}

}  // namespace
}  // namespace host
}  // namespace kolvane
