// The trace file on a real file system, as users and hosts really leave it:
// a full disk, two writers, a file already capped or cut mid-line, a FIFO or
// a device in its place, a name too long or not in ASCII; and the file's own
// protection (owner-only, not inherited). Keys are delivered in every case.
#include <regex>
#include <string>
#include <vector>

#include "tests/module/trace_fixture.h"
#include "tests/support/special_files.h"

namespace kolvane {
namespace test {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr size_t kPage = 4096;
constexpr char kCapComment[] = "# trace stopped: the file reached its size cap of 8 MiB";

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

int CountStartingWith(const std::vector<std::string>& lines, const std::string& start) {
  int count = 0;
  for (const std::string& line : lines) count += line.rfind(start, 0) == 0;
  return count;
}

// Every line is one a script may hold: a comment, a raw step or nothing.
bool IsScriptLine(const std::string& line) {
  static const std::regex kLine("|#.*|raw 0x[0-9A-F]{2} [0-9]+ms");
  return std::regex_match(line, kLine);
}

using TraceFiles = Trace;

TEST_F(TraceFiles, AFullDiskStopsTheTraceWithOneLogLineAndTheNextRunStartsOnALineOfItsOwn) {
#ifdef __linux__
  // Three pages: two for a filler, one for the trace, which has 250 bytes
  // left when the run begins: its header fits, its presses do not.
  SmallTmpfs disk("disk", 3 * kPage);
  if (!disk.reason().empty()) GTEST_SKIP() << disk.reason();
  WriteFile("disk/filler", std::string(2 * kPage, 'x'));
  WriteFile("disk/run.trace", std::string(kPage - 251, '#') + "\n");
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "disk/run.trace"));

  testbed::SimCard device;
  PressChannelUpOn(module_, device, 4);
  const std::vector<std::string> log = ReadLogLines();
  EXPECT_EQ(CountStartingWith(log, "kolvane: Cannot write the trace file disk/run.trace"), 1)
      << ::testing::PrintToString(log);
  EXPECT_THAT(log, Contains("kolvane: Cannot write the trace file disk/run.trace (is the disk full?); "
                            "the trace of this run stops there."));
  const std::string afterFull = Contents("disk/run.trace");
  EXPECT_EQ(afterFull.back(), '\n') << "no part of a line is left behind";

  // Room again: the next run is whole, and so is every line of the file.
  std::filesystem::remove("disk/filler");
  PressChannelUpOn(module_, device);
  const std::vector<std::string> lines = Lines("disk/run.trace");
  EXPECT_EQ(CountStartingWith(lines, "# kolvane "), 2);
  EXPECT_THAT(lines.back(), StartsWith("# end of run, "));
  for (const std::string& line : lines) EXPECT_TRUE(IsScriptLine(line)) << line;
  std::error_code ignored;
  std::filesystem::remove_all("disk/run.trace", ignored);
#else
  GTEST_SKIP() << "a full disk is made with a small tmpfs, on Linux";
#endif
}

TEST_F(TraceFiles, ADeviceIsRefusedWithALogLineSayingItIsNotARegularFile) {
#ifdef _WIN32
  const std::vector<std::string> devices = {"NUL"};
#else
  const std::vector<std::string> devices = {"/dev/full", "/dev/null"};
#endif
  for (const std::string& device : devices) {
    ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, device.c_str()));
    RemoveLog();
    PressChannelUp();
    EXPECT_THAT(ReadLogLines(),
                Contains("kolvane: The trace file " + device + " is not a regular file; no trace is written."));
  }
}

TEST_F(TraceFiles, AFifoHoldsUpNoStartAndIsRefusedAsNotARegularFile) {
#ifdef __linux__
  const std::string why = MakeFifo("run.fifo");
  if (!why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.fifo"));
  EXPECT_TRUE(RunsWithoutWaitingForAFifoReader("run.fifo", [&] { PressChannelUp(); }))
      << "Start waited for a reader of the FIFO";
  EXPECT_THAT(ReadLogLines(), Contains("kolvane: The trace file run.fifo is not a regular file; no trace is written."));
  EXPECT_THAT(ReadLogLines(), Each(Not(HasSubstr("size cap"))));
  std::filesystem::remove("run.fifo");
#else
  GTEST_SKIP() << "no FIFOs in the file system here";
#endif
}

TEST_F(TraceFiles, ASecondModuleOnTheSameFileGetsALogLineAndNoTraceWhileBothReportKeys) {
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  IRemoteModule* second = NewModule();
  ASSERT_NE(second, nullptr);
  testbed::SimCard firstDevice, secondDevice;
  KeyNames firstSink, secondSink;
  ASSERT_EQ(module_->Start(&firstSink, firstDevice.host()), S_OK);
  ASSERT_EQ(second->Start(&secondSink, secondDevice.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return firstDevice.receiverPolls() >= 2 && secondDevice.receiverPolls() >= 2; }));
  firstDevice.Press(kChannelUp);
  secondDevice.Press(kChannelUp);
  ASSERT_TRUE(WaitUntil([&] { return !firstSink.names().empty() && !secondSink.names().empty(); }));
  EXPECT_EQ(second->Stop(), S_OK);
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_EQ(second->Release(), 0u);

  EXPECT_THAT(firstSink.names(), ElementsAre("Kolvane_ChannelUp"));
  EXPECT_THAT(secondSink.names(), ElementsAre("Kolvane_ChannelUp"));
  const std::vector<std::string> lines = Lines("run.trace");
  EXPECT_EQ(CountStartingWith(lines, "# kolvane "), 1);
  EXPECT_EQ(CountStartingWith(lines, "# end of run"), 1);
  EXPECT_THAT(ReadLogLines(),
              Contains("kolvane: The trace file run.trace is in use by another writer; no trace is written."));
  // The file is free again once its writer has ended.
  RemoveLog();
  PressChannelUp();
  EXPECT_EQ(CountStartingWith(Lines("run.trace"), "# kolvane "), 2);
  EXPECT_THAT(ReadLogLines(), Each(Not(HasSubstr("in use"))));
}

TEST_F(TraceFiles, TheCapHoldsAgainstTheFilesRealSizeWhenOthersAppendDuringARun) {
  const uint64_t room = 1000;
  WriteFile("run.trace", std::string(kTraceSizeCap - room - 1, '#') + "\n");
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  KeyNames sink;
  ASSERT_EQ(module_->Start(&sink, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::file_size("run.trace") > kTraceSizeCap - room + 100; }));
  {
    // Another writer leaves the run 100 bytes, whatever the header's length:
    // room for its cap comment and a line or two, not for four presses.
    const uint64_t left = 100;
    const uint64_t size = std::filesystem::file_size("run.trace");
    ASSERT_LT(size + left, kTraceSizeCap);
    std::ofstream other("run.trace", std::ios::binary | std::ios::app);
    other << std::string(static_cast<size_t>(kTraceSizeCap - size - left - 1), '#') << '\n';
  }
  for (int press = 1; press <= 4; ++press) {
    const uint64_t polls = device.receiverPolls();
    ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= polls + 2; }));
    device.Press(kChannelUp);
    ASSERT_TRUE(WaitUntil([&] { return static_cast<int>(sink.names().size()) >= press; }));
    device.ReleaseKey();
  }
  EXPECT_EQ(module_->Stop(), S_OK);
  EXPECT_EQ(sink.names().size(), 4u);
  EXPECT_LE(std::filesystem::file_size("run.trace"), kTraceSizeCap);
  EXPECT_EQ(Lines("run.trace").back(), kCapComment);
}

TEST_F(TraceFiles, AFileThatEndsInItsCapCommentGetsNoMoreRunsButOneLogLine) {
  const std::string capped = "raw 0xFF 20ms\n" + std::string(kCapComment) + "\n";
  WriteFile("run.trace", capped);
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  EXPECT_EQ(Contents("run.trace"), capped);
  EXPECT_THAT(ReadLogLines(),
              Contains("kolvane: The trace file run.trace has reached its size cap of 8 MiB; no trace is written."));
}

TEST_F(TraceFiles, ARunAfterAFileCutMidLineStartsOnALineOfItsOwn) {
  WriteFile("run.trace", "raw 0xFF 20ms\nraw 0x5");
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  const std::vector<std::string> lines = Lines("run.trace");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "raw 0x5");
  EXPECT_THAT(lines[2], StartsWith("# kolvane "));
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_TRUE(IsScriptLine(lines[i])) << lines[i];
}

TEST_F(TraceFiles, ANewTraceIsReadableByItsOwnerOnly) {
#ifdef __linux__
  ScopedUmask permissive(0);
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  PressChannelUp();
  EXPECT_EQ(PermissionBits("run.trace"), 0600);
#else
  GTEST_SKIP() << "a new file's default DACL is its owner's";
#endif
}

TEST_F(TraceFiles, TheOpenTraceIsNotInheritedByAChildProcess) {
#ifdef __linux__
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, "run.trace"));
  testbed::SimCard device;
  ASSERT_EQ(module_->Start(nullptr, device.host()), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return device.receiverPolls() >= 1; }));
  const long flags = OpenFlagsOf("run.trace");
  EXPECT_EQ(module_->Stop(), S_OK);
  ASSERT_NE(flags, -1) << "the trace is open while the module runs";
  EXPECT_NE(flags & O_CLOEXEC, 0) << "flags " << std::oct << flags;
#else
  GTEST_SKIP() << "open descriptors are listed in /proc on Linux";
#endif
}

TEST_F(TraceFiles, ANameTooLongToOpenCostsTheTraceAndOneLogLine) {
  const std::string name(5000, 'x');
  ASSERT_TRUE(testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, name.c_str()));
  PressChannelUp();
  const std::vector<std::string> log = ReadLogLines();
  EXPECT_EQ(CountStartingWith(log, "kolvane: The trace file"), 1) << log.size() << " lines";
  EXPECT_THAT(log, Contains("kolvane: The trace file name in KOLVANE_TRACE is too long to open; no trace is written."));
}

TEST_F(TraceFiles, ANameOutsideAsciiIsOpenedAsItIsAndLoggedInUtf8) {
  const char* const name = u8"трасса-テスト.trace";
  ASSERT_TRUE(testbed::SetModuleEnvironmentUtf8(KOLVANE_TRACE_VARIABLE, name));
  PressChannelUp();
  const std::filesystem::path path = std::filesystem::u8path(name);
  EXPECT_THAT(Lines(path), Contains(StartsWith("# end of run, ")));
  std::filesystem::remove(path);

  const char* const unusable = u8"нет-папки/трасса.trace";
  ASSERT_TRUE(testbed::SetModuleEnvironmentUtf8(KOLVANE_TRACE_VARIABLE, unusable));
  PressChannelUp();
  EXPECT_THAT(ReadLogLines(),
              Contains(std::string(u8"kolvane: Cannot open the trace file ") + unusable + "; no trace is written."));
}

}  // namespace
}  // namespace test
}  // namespace kolvane
