#include "bench/trace_compare_bench.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "trace/format.h"

namespace kolvane {
namespace bench {
namespace {

constexpr int kPresses = 200;
constexpr int kHolds = 10;
constexpr int kQuickShare = 4;  // --quick makes a quarter of the presses and holds
constexpr int64_t kPollMs = 20;
constexpr int64_t kPressMs = 100;
constexpr int64_t kBetweenPressesMs = 2000;
constexpr int64_t kHeldMs = 1000;  // after the press: four repeats
constexpr int64_t kHourMs = int64_t{3600} * 1000;
const char kTracePath[] = "kolvane-bench-compare.trace";
const char kOutputPath[] = "kolvane-bench-compare.out";

#ifdef _WIN32
const char kHostFile[] = "kolvane-host.exe";
#else
const char kHostFile[] = "kolvane-host";
#endif

class TraceWriter {
 public:
  explicit TraceWriter(std::string* text) : text_(text) {
    *text_ += "# kolvane 1.0.0 trace, bench, started 2026-12-09 18:00:00\n";
  }
  void Raw(unsigned byte, int64_t ms) {
    char line[48];
    snprintf(line, sizeof line, "raw 0x%02X %lldms\n", byte, static_cast<long long>(ms));
    *text_ += line;
    now_ += ms;
  }
  void Report(const char* name, bool repeat, int64_t at) {
    char line[96];
    snprintf(line, sizeof line, "# %lld.%03llds %s %s\n", static_cast<long long>(at / 1000),
             static_cast<long long>(at % 1000), name, repeat ? kTraceRepeat : kTraceFresh);
    *text_ += line;
  }
  int64_t now() const { return now_; }

 private:
  std::string* text_;
  int64_t now_ = kPollMs;  // the first poll
};

// Presses of ChannelUp, holds of VolumeUp, each among idle; then hourly
// idle lines up to the cap.
std::string MakeTrace(int presses, int holds, uint64_t* idleLines) {
  std::string text;
  TraceWriter trace(&text);
  for (int i = 0; i < presses; ++i) {
    trace.Raw(0xFF, kBetweenPressesMs);
    trace.Report("Kolvane_ChannelUp", false, trace.now());
    trace.Raw(0xD8, kPressMs);
    if (i % (presses / holds) == 0) {
      trace.Raw(0xFF, kBetweenPressesMs);
      const int64_t pressed = trace.now();
      trace.Report("Kolvane_VolumeUp", false, pressed);
      trace.Raw(0x58, kPressMs);
      for (int64_t repeat = 1; repeat * 220 < kHeldMs; ++repeat) {
        trace.Report("Kolvane_VolumeUp", true, pressed + kPressMs + repeat * 220);
      }
      trace.Raw(0x59, kHeldMs);
    }
  }
  const size_t ending = 64;
  *idleLines = 0;
  while (text.size() + ending < kTraceSizeCap - 32) {
    trace.Raw(0xFF, kHourMs);
    ++*idleLines;
  }
  text += "# end of run\n";
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
  const std::string command =
      "\"" + host + "\" --module \"" + modulePath + "\" --compare " + kTracePath + " > " + kOutputPath + " 2>&1";
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
