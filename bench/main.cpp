// kolvane-bench: loads the module the way a host does and measures it on a
// simulated device. Prints a table (or --json) with PASS/MISS per goal; the
// exit status is 0 whatever the figures, since a noisy machine is no failure.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_platform.h"
#include "bench/decoder_micro.h"
#include "bench/harness.h"
#include "bench/measurements.h"
#include "bench/report.h"
#include "bench/trace_compare_bench.h"
#include "kolvane/kolvane.h"
#include "receiver/device.h"
#include "testbed/module_loader.h"
#include "text/format.h"
#include "text/options.h"
#include "text/printable.h"

namespace {

using namespace kolvane::bench;

struct Settings {
  int presses;
  int stops;
  int holds;          // first-repeat trials
  int holdMs;         // length of each trial's hold: the first repeat and two gaps
  double cpuSeconds;  // per CPU figure
  int cpuRounds;      // the floor and the idle module alternate, so a change
                      // in the machine's load touches both alike
};

constexpr Settings kFull = {500, 200, 10, 700, 10.0, 10};
constexpr Settings kQuick = {100, 50, 3, 700, 2.0, 2};
constexpr size_t kMaxRepeats = 4096;
constexpr int kFirstPollTimeoutMs = 1000;
constexpr int kTracedShare = 5;  // the traced run presses a fifth as often
constexpr uint32_t kDefaultSeed = 1;

struct Options {
  bool quick = false;
  bool json = false;
  uint32_t seed = kDefaultSeed;
  std::string modulePath;
  std::string dllPath;
};

void Usage(FILE* out) {
  fprintf(out,
          "usage: kolvane-bench [--quick] [--json] [--seed N] [--module PATH] [--dll PATH]\n"
          "  --quick        shorter run (about 30 s instead of about two minutes)\n"
          "  --json         print a JSON document instead of the table\n"
          "  --seed N       seed of the random press and stop phases (default %u)\n"
          "  --module PATH  module to load (default: the one beside this program)\n"
          "  --dll PATH     kolvane.dll whose size is checked\n"
          "  -h, --help     this text\n"
          "  --version      kolvane-bench's version\n"
          "An option's value may also follow an equals sign: --seed=2.\n",
          static_cast<unsigned>(kDefaultSeed));
}

enum class Parsed { kRun, kHelp, kVersion, kBad };

// By the tools' shared conventions (text/options.h).
Parsed ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  kolvane::testbed::OptionReader in(argc, argv);
  while (in.Next()) {
    const std::string& name = in.name();
    bool read = true;
    bool flag = false;
    std::string seed;
    if (name == "--quick") {
      read = in.Flag(&options->quick);
    } else if (name == "--json") {
      read = in.Flag(&options->json);
    } else if (name == "-h" || name == "--help") {
      if (!in.Flag(&flag)) break;
      return Parsed::kHelp;
    } else if (name == "--version") {
      if (!in.Flag(&flag)) break;
      return Parsed::kVersion;
    } else if (name == "--seed") {
      if (!in.Value(&seed)) break;
      char* end = nullptr;
      const unsigned long number = strtoul(seed.c_str(), &end, 10);
      if (*end != '\0' || seed[0] == '-' || number > UINT32_MAX) {
        in.Fail("bad seed '" + kolvane::Printable(seed) + "' (0 to 4294967295)");
        break;
      }
      options->seed = static_cast<uint32_t>(number);
    } else if (name == "--module") {
      read = in.Value(&options->modulePath);
    } else if (name == "--dll") {
      read = in.Value(&options->dllPath);
    } else {
      read = in.Unknown();
    }
    if (!read) break;
  }
  if (in.error().empty()) return Parsed::kRun;
  *error = in.error();
  return Parsed::kBad;
}

long long FileSize(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  long long size = -1;
  if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
  fclose(file);
  return size;
}

// The smallest step the process CPU clock makes: spins until it moves.
double CpuClockStep() {
  constexpr int64_t kGiveUpNs = 200000000;
  const int64_t deadline = NowNs() + kGiveUpNs;
  const double start = ProcessCpuSeconds();
  double now = start;
  while (now == start && NowNs() < deadline) now = ProcessCpuSeconds();
  return now - start;
}

void Progress(const char* what) {
  fprintf(stderr, "kolvane-bench: %s\n", what);
  fflush(stderr);
}

// Starts the module and waits for its first poll.
bool StartAndPoll(Harness& harness) {
  const uint64_t polls = harness.polls();
  if (harness.Start() == S_OK && harness.WaitForPolls(polls + 1, kFirstPollTimeoutMs)) return true;
  harness.Stop();
  return false;
}

// Process CPU with no started module, with the bare sleeper, and with an
// idle started module, in alternating rounds.
bool MeasureCpu(Harness& harness, const Settings& settings, Results* r) {
  const double seconds = settings.cpuSeconds / settings.cpuRounds;
  for (int round = 0; round < settings.cpuRounds; ++round) {
    r->baseline += MeasureBaseline(seconds);
    r->sleeper += MeasureBareSleeper(seconds);
    CpuFigure idle;
    if (!MeasureIdleModule(harness, seconds, &idle)) return false;
    r->idle += idle;
  }
  return true;
}

// What the poll thread allocated between its first and its last observed
// poll of one start.
struct PollAllocations {
  uint64_t polls = 0;
  uint64_t allocations = 0;
};

// Starts the module (with KOLVANE_TRACE naming `tracePath`, unless null),
// runs `presses` on it, shows the idle byte to one more poll and stops it.
// False when it did not start or never polled.
template <typename Presses>
bool MeasureOneStart(Harness& harness, const char* tracePath, Presses presses, PollAllocations* counted) {
  if (tracePath != nullptr) kolvane::testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, tracePath);
  const bool started = StartAndPoll(harness);
  if (tracePath != nullptr) kolvane::testbed::SetModuleEnvironment(KOLVANE_TRACE_VARIABLE, nullptr);  // read by Start
  if (!started) return false;
  const uint64_t firstPoll = harness.polls();
  const uint64_t allocationsAtFirst = harness.pollThreadAllocations();
  presses();
  harness.device().ReleaseKey();
  harness.WaitForPolls(harness.polls() + 1, kFirstPollTimeoutMs);
  counted->polls = harness.polls() - firstPoll;
  counted->allocations = harness.pollThreadAllocations() - allocationsAtFirst;
  harness.Stop();
  return true;
}

// Press latency and repeats, in one start, and the allocations of its poll
// loop.
bool MeasureStarted(Harness& harness, const Settings& settings, std::mt19937& random, Results* r) {
  r->repeats.firstMs.reserve(kMaxRepeats);
  r->repeats.gapMs.reserve(kMaxRepeats);
  PollAllocations counted;
  const bool measured = MeasureOneStart(
      harness, nullptr,
      [&] {
        MeasurePressLatency(harness, settings.presses, random, &r->latencyMs, &r->latencyMissed);
        for (int i = 0; i < settings.holds; ++i) HoldKey(harness, settings.holdMs, &r->repeats);
        // One long hold, for many gaps between repeats.
        HoldKey(harness, static_cast<int>(settings.cpuSeconds * 1000), &r->repeats);
      },
      &counted);
  r->allocationPolls = counted.polls;
  r->pollAllocations = counted.allocations;
  return measured;
}

// Presses and a hold with KOLVANE_TRACE naming a file, so the poll thread
// writes a line on every change of the byte and every report: the
// allocations of its poll loop, and the trace's size.
bool MeasureTraced(Harness& harness, const Settings& settings, std::mt19937& random, Results* r) {
  const char* const path = "kolvane-bench.trace";
  remove(path);
  std::vector<double> latencyMs;
  int missed = 0;
  RepeatSamples repeats;
  latencyMs.reserve(static_cast<size_t>(settings.presses));
  repeats.firstMs.reserve(kMaxRepeats);
  repeats.gapMs.reserve(kMaxRepeats);
  const auto began = std::chrono::steady_clock::now();
  PollAllocations counted;
  const bool measured = MeasureOneStart(
      harness, path,
      [&] {
        MeasurePressLatency(harness, settings.presses / kTracedShare, random, &latencyMs, &missed);
        HoldKey(harness, settings.holdMs, &repeats);
      },
      &counted);
  r->tracedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  r->tracedPolls = counted.polls;
  r->tracedAllocations = counted.allocations;
  r->traceBytes = FileSize(path);
  remove(path);
  return measured;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string optionError;
  switch (ParseOptions(argc, argv, &options, &optionError)) {
    case Parsed::kRun: break;
    case Parsed::kHelp: Usage(stdout); return 0;
    case Parsed::kVersion: printf("kolvane-bench %s\n", KOLVANE_VERSION); return 0;
    case Parsed::kBad: fprintf(stderr, "kolvane-bench: %s (see kolvane-bench --help)\n", optionError.c_str()); return 2;
  }
  const Settings& settings = options.quick ? kQuick : kFull;
  std::mt19937 random(options.seed);

  Results r;
  r.quick = options.quick;
  r.seed = options.seed;
  r.cpus = std::thread::hardware_concurrency();
  r.platform = PlatformName();
  r.modulePath = options.modulePath.empty() ? kolvane::testbed::ModulePathBesideExecutable() : options.modulePath;

  // Set up before anything is measured: nothing below allocates in a poll.
  auto harness = std::make_unique<Harness>();
  std::string error;
  if (!harness->Load(r.modulePath, &error)) {
    fprintf(stderr, "kolvane-bench: %s\n", error.c_str());
    return 2;
  }
  const char* scope = InstallAllocationCounter(KOLVANE_MODULE_FILE);
  // A counter that misses the module's own object would claim a false 0.
  const uint64_t beforeSpare = AllocationCount();
  harness->CreateAndReleaseSpareModule();
  if (AllocationCount() == beforeSpare) scope = nullptr;
  r.allocationScope = scope != nullptr ? scope : "";

  r.cpuClockStep = CpuClockStep();
  Progress(kolvane::testbed::Format("CPU: no started module, a bare %u ms sleeper, an idle module, in rounds...",
                                    static_cast<unsigned>(kolvane::kPollPeriodMs))
               .c_str());
  if (!MeasureCpu(*harness, settings, &r)) {
    fprintf(stderr, "kolvane-bench: the module did not start or never polled\n");
    return 2;
  }
  Progress("press latency, repeats, allocations per poll...");
  if (!MeasureStarted(*harness, settings, random, &r)) {
    fprintf(stderr, "kolvane-bench: the module did not start or never polled\n");
    return 2;
  }
  Progress("allocations per poll with a trace on...");
  if (!MeasureTraced(*harness, settings, random, &r)) {
    fprintf(stderr, "kolvane-bench: the module did not start or never polled\n");
    return 2;
  }
  Progress("stop latency and allocations per Start/Stop...");
  MeasureStops(*harness, settings.stops, random, &r.stopMs, &r.allocationsPerCycle, &r.failedStarts);
  r.cycles = settings.stops;

  Progress("kolvane-host --compare of a trace at the size cap...");
  r.compare = MeasureTraceCompare(r.modulePath, options.quick);

  r.microAvailable = DecoderMicroAvailable();
  if (r.microAvailable) {
    Progress("decoder poll (Google Benchmark)...");
    r.micro = RunDecoderMicro(options.quick);
  }
  r.dllPath = options.dllPath.empty() ? DefaultDllPath(r.modulePath) : options.dllPath;
  r.dllBytes = FileSize(r.dllPath);

  if (options.json) {
    PrintJson(stdout, r);
  } else {
    PrintTable(stdout, r);
  }
  return 0;
}
