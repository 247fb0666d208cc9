// How long `kolvane-host --compare` takes on a trace at the size cap: a
// trace made here, of presses and holds among hourly idle lines, replayed by
// the kolvane-host beside the benchmark through the module under test.
#ifndef KOLVANE_BENCH_TRACE_COMPARE_BENCH_H
#define KOLVANE_BENCH_TRACE_COMPARE_BENCH_H

#include <stdint.h>

#include <string>

namespace kolvane {
namespace bench {

struct CompareFigure {
  bool measured = false;  // kolvane-host ran and said the replay matched
  std::string problem;    // why not, when not
  double seconds = 0;
  uint64_t traceBytes = 0;
  int presses = 0;
  int holds = 0;
  uint64_t idleLines = 0;  // hourly lines of an idle receiver
};

CompareFigure MeasureTraceCompare(const std::string& modulePath, bool quick);

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_TRACE_COMPARE_BENCH_H
