#include "bench/trace_compare_bench.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "bench/made_up_run.h"
#include "platform/platform.h"
#include "receiver/device.h"
#include "receiver/remote_keys.h"
#include "trace/format.h"
#include "trace/recorder.h"
#include "trace/string_output.h"

namespace kolvane {
namespace bench {
namespace {

constexpr int kPresses = 200;
constexpr int kHolds = 10;
constexpr int kQuickShare = 4;  // --quick makes a quarter of the presses and holds
constexpr uint64_t kPressMs = 100;
constexpr uint64_t kBetweenPressesMs = 2000;
constexpr uint64_t kHeldMs = 1000;  // after the press: four repeats
// The keys pressed and held: the table's first two.
constexpr int kPressedKey = 0;
constexpr int kHeldKey = 1;
// Room left below the cap for the run's last lines, so the trace ends as a
// run does, not at the cap.
constexpr size_t kEndingRoom = 3 * TraceRecorder::kMaxLine;
constexpr size_t kStartedAtSize = 32;  // the header's date and time
const char kTracePath[] = "kolvane-bench-compare.trace";
const char kOutputPath[] = "kolvane-bench-compare.out";

#ifdef _WIN32
const char kHostFile[] = "kolvane-host.exe";
#else
const char kHostFile[] = "kolvane-host";
#endif

// One run, recorded as the module records it: presses of one key, holds of
// another, each among idle; then the receiver idles, a longest step a line,
// until the trace nearly reaches the cap.
std::string MakeTrace(int presses, int holds, uint64_t* idleLines) {
  std::string text;
  StringTraceOutput output(&text);
  TraceRecorder recorder(&output, kTraceSizeCap);
  char startedAt[kStartedAtSize];
  platform::FormatLocalTime(startedAt, sizeof startedAt);
  MadeUpRun run(&recorder, platform::TickCount(), startedAt, KOLVANE_VERSION, platform::PlatformName());
  const uint32_t pressed = RemoteKeyTable[kPressedKey].code;
  const uint32_t held = RemoteKeyTable[kHeldKey].code;
  for (int i = 0; i < presses; ++i) {
    run.Show(kIdleReceiverByte, kBetweenPressesMs);
    run.Show(pressed, kPressMs);
    if (i % (presses / holds) == 0) {
      run.Show(kIdleReceiverByte, kBetweenPressesMs);
      run.Show(held, kPressMs);
      run.Show(HeldByteOf(held), kHeldMs);
    }
  }
  *idleLines = 0;
  while (text.size() + kEndingRoom < kTraceSizeCap) {
    run.Show(kIdleReceiverByte, kScriptMaxDurationMs);
    ++*idleLines;
  }
  run.End();
  return text;
}

std::string Directory(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

CompareFigure MeasureTraceCompare(const std::string& modulePath, bool quick) {
  CompareFigure figure;
  figure.presses = quick ? kPresses / kQuickShare : kPresses;
  figure.holds = quick ? kHolds / kQuickShare : kHolds;
  const std::string text = MakeTrace(figure.presses, figure.holds, &figure.idleLines);
  figure.traceBytes = text.size();
  {
    std::ofstream file(kTracePath, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
      figure.problem = "cannot write the trace";
      return figure;
    }
  }
  const std::string host = Directory(modulePath) + "/" + kHostFile;
  std::string command =
      "\"" + host + "\" --module \"" + modulePath + "\" --compare " + kTracePath + " > " + kOutputPath + " 2>&1";
#ifdef _WIN32
  // system() runs `cmd /c`, which drops the first and the last quote of a
  // command that starts with one: one more pair keeps the program's own.
  command = "\"" + command + "\"";
#endif
  const auto began = std::chrono::steady_clock::now();
  const int status = system(command.c_str());
  figure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  std::ifstream output(kOutputPath, std::ios::binary);
  std::ostringstream said;
  said << output.rdbuf();
  if (status == 0 && said.str().find("Compare: the replay made the ") != std::string::npos) {
    figure.measured = true;
  } else {
    const size_t last = said.str().rfind('\n', said.str().size() > 1 ? said.str().size() - 2 : 0);
    figure.problem = "kolvane-host: " + said.str().substr(last == std::string::npos ? 0 : last + 1);
    while (!figure.problem.empty() && (figure.problem.back() == '\n' || figure.problem.back() == '\r')) {
      figure.problem.pop_back();
    }
  }
  remove(kTracePath);
  remove(kOutputPath);
  return figure;
}

}  // namespace bench
}  // namespace kolvane
