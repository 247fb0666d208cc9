// Summaries, goals and the two outputs: a Markdown table for people and a
// JSON document (--json) for tools.
#ifndef KOLVANE_BENCH_REPORT_H
#define KOLVANE_BENCH_REPORT_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "bench/decoder_micro.h"
#include "bench/measurements.h"
#include "bench/trace_compare_bench.h"

namespace kolvane {
namespace bench {

struct Results {
  // How the run was made.
  std::string modulePath;
  std::string platform;
  bool quick = false;
  uint32_t seed = 0;
  unsigned cpus = 0;

  std::vector<double> latencyMs;
  int latencyMissed = 0;
  RepeatSamples repeats;
  std::vector<double> stopMs;
  int failedStarts = 0;

  double cpuClockStep = 0;  // seconds; the process CPU clock's resolution
  CpuFigure baseline;       // no started module; subtracted from the others
  CpuFigure sleeper;
  CpuFigure idle;

  std::string allocationScope;  // empty when nothing could be counted
  uint64_t pollAllocations = 0;
  uint64_t allocationPolls = 0;
  double allocationsPerCycle = 0;
  int cycles = 0;
  // The same with KOLVANE_TRACE set: a trace written through the run.
  uint64_t tracedAllocations = 0;
  uint64_t tracedPolls = 0;
  long long traceBytes = -1;  // -1: no trace measured
  double tracedSeconds = 0;

  CompareFigure compare;  // kolvane-host --compare of a trace at the size cap

  bool microAvailable = false;
  std::vector<MicroResult> micro;

  std::string dllPath;
  long long dllBytes = -1;  // -1: not built
};

struct Summary {
  size_t count = 0;
  double min = 0, median = 0, p99 = 0, max = 0;
};
Summary Summarize(std::vector<double> samples);

// Prints the table with PASS/MISS per goal.
void PrintTable(FILE* out, const Results& results);
void PrintJson(FILE* out, const Results& results);

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_REPORT_H
