// The files the module writes under a process's file-size limit (`ulimit -f`,
// systemd's LimitFSIZE=): a write that starts at the limit is answered with
// SIGXFSZ, which ends the host. Each case runs in a child process with the
// limit set, and must end "exit 0" with only whole lines in the file.
#include <signal.h>
#include <stdio.h>

#include <fstream>
#include <string>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "kolvane/kolvane.h"
#include "module/poll_trace.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "testbed/module_loader.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/special_files.h"

namespace kolvane {
namespace {

using ::testing::ElementsAre;

#ifdef __linux__

constexpr rlim_t kLimit = 1024;

std::string Contents(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteLines(const char* path, size_t bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << std::string(bytes - 1, '#') << '\n';
}

class FileSizeLimit : public ::testing::Test {
 protected:
  void SetUp() override { test::RemoveLog(); }
  void TearDown() override {
    test::RemoveLog();
    std::remove("limit.txt");
  }
};

TEST_F(FileSizeLimit, AnAppendThatWouldPassTheLimitWritesNothingAndOneThatFitsExactlyIsWhole) {
  WriteLines("limit.txt", 1000);
  const std::string line(30, 'a');
  const std::string fits = std::string(23, 'b') + "\n";
  const auto appends = [&] {
    platform::File* file = platform::OpenLogFile("limit.txt");
    const platform::FileWrite tooLong = platform::AppendToFile(file, line.data(), line.size());
    const platform::FileWrite exact = platform::AppendToFile(file, fits.data(), fits.size());
    const platform::FileWrite atLimit = platform::AppendToFile(file, "\n", 1);
    platform::CloseFile(file);
    const bool expected = tooLong == platform::FileWrite::kSizeLimit && exact == platform::FileWrite::kWritten &&
                          atLimit == platform::FileWrite::kSizeLimit;
    _exit(expected ? 0 : 1);
  };
  EXPECT_EQ(test::RunWithFileSizeLimit(kLimit, appends), "exit 0");
  const std::string text = Contents("limit.txt");
  EXPECT_EQ(text.size(), kLimit);
  EXPECT_EQ(text.substr(999), "\n" + fits);
}

TEST_F(FileSizeLimit, ALogLineThatWouldPassTheLimitIsDroppedWholeAndTheHostLivesOn) {
  WriteLines(KOLVANE_LOG_FILE, 1020);
  EXPECT_EQ(
      test::RunWithFileSizeLimit(kLimit, [] { LogMessage("kolvane: Initializing kolvane.dll remote module.\n"); }),
      "exit 0");
  const std::string log = Contents(KOLVANE_LOG_FILE);
  EXPECT_EQ(log.size(), 1020u);
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(FileSizeLimit, ATraceAtTheLimitStopsOnAWholeLineWithOneLogLine) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "limit.txt"));
  WriteLines("limit.txt", 700);  // room for the header and a few steps
  const std::string ended = test::RunWithFileSizeLimit(kLimit, [] {
    PollTraceFile file{};
    OpenPollTrace(&file);
    PollTrace trace(file, 0);
    for (uint32_t poll = 0; poll < 100; ++poll) {
      const uint32_t byte = poll % 2 == 0 ? 0xFF : 0xD8;
      trace.OnPoll(byte, poll * 20);
      if (byte == 0xD8) trace.OnReport("Kolvane_ChannelUp", false, poll * 20);
    }
    trace.End(2000, false);
  });
  testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, nullptr);
  EXPECT_EQ(ended, "exit 0");
  const std::string trace = Contents("limit.txt");
  EXPECT_GT(trace.size(), 900u) << "the trace wrote up to the limit";
  EXPECT_LE(trace.size(), kLimit);
  EXPECT_EQ(trace.back(), '\n') << "the trace ends in a whole line";
  EXPECT_THAT(test::ReadLogLines(), ElementsAre("kolvane: The trace file limit.txt has reached the file-size limit of "
                                                "this process; the trace of this run stops there."));
}

// What the module does for a write, the host does not see: its mask stays
// as it was, and the module's own thread keeps SIGXFSZ off itself.
uint32_t KOLVANE_THREAD_CALL RecordMask(void* blocked) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  *static_cast<int*>(blocked) = sigismember(&mask, SIGXFSZ);
  return 0;
}

TEST_F(FileSizeLimit, TheModulesThreadBlocksTheSignalAndTheHostsThreadKeepsItsMask) {
  sigset_t before, after;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  ASSERT_EQ(sigismember(&before, SIGXFSZ), 0);
  int blocked = -1;
  platform::Thread* thread = platform::StartThread(&RecordMask, &blocked, 0);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(platform::WaitForThread(thread, 60000));
  platform::CloseThread(thread);
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  EXPECT_EQ(blocked, 1);
  EXPECT_EQ(sigismember(&after, SIGXFSZ), 0);
}

#else

TEST(FileSizeLimit, IsPosixOnly) { GTEST_SKIP() << "Windows has no file-size limit of a process"; }

#endif  // __linux__

}  // namespace
}  // namespace kolvane
