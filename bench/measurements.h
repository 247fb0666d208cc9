// The macro measurements: each drives a started (or idle) module through the
// harness and returns raw samples; report.cpp summarises them.
#ifndef KOLVANE_BENCH_MEASUREMENTS_H
#define KOLVANE_BENCH_MEASUREMENTS_H

#include <stdint.h>

#include <random>
#include <vector>

#include "bench/harness.h"
#include "receiver/remote_keys.h"

namespace kolvane {
namespace bench {

// The key every measurement presses: the table's first, so each decoded
// report reaches the sink.
inline uint8_t BenchKey() { return static_cast<uint8_t>(RemoteKeyTable[0].code); }

struct CpuFigure {
  double cpuSeconds = 0;
  double wallSeconds = 0;
  uint64_t wakes = 0;  // polls of the module, or loops of the bare sleeper
  double coreFraction() const { return wallSeconds > 0 ? cpuSeconds / wallSeconds : 0; }
  CpuFigure& operator+=(const CpuFigure& other) {
    cpuSeconds += other.cpuSeconds;
    wallSeconds += other.wallSeconds;
    wakes += other.wakes;
    return *this;
  }
};

struct RepeatSamples {
  std::vector<double> firstMs;  // last poll with the held bit clear to the first repeat
  std::vector<double> gapMs;    // report to report while held
  int failed = 0;               // holds whose press or repeat never came
};

// Process CPU while the main thread only sleeps; the module is not started.
CpuFigure MeasureBaseline(double seconds);
// A bare thread that sleeps 20 ms in a loop: the floor any poller pays.
CpuFigure MeasureBareSleeper(double seconds);
// Starts the module on the harness's idle registers (receiver byte 0xFF),
// measures from its first poll, stops it. False if it did not start polling.
bool MeasureIdleModule(Harness& harness, double seconds, CpuFigure* figure);

// Presses at random phases of the poll, spread evenly over the period;
// press-to-OnKey times.
void MeasurePressLatency(Harness& harness, int presses, std::mt19937& random, std::vector<double>* latencyMs,
                         int* missed);

// Presses the key, then holds it for holdMs; collects the first repeat and
// the gaps.
void HoldKey(Harness& harness, int holdMs, RepeatSamples* samples);

// Start, wait a random part of a poll period (spread evenly, as for the
// presses) after the first poll, time Stop.
// Also counts the allocations of the whole cycle.
void MeasureStops(Harness& harness, int stops, std::mt19937& random, std::vector<double>* stopMs,
                  double* allocationsPerCycle, int* failedStarts);

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_MEASUREMENTS_H
