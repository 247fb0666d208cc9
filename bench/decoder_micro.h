// One poll of the decoder on its own, timed with Google Benchmark where the
// build has it (decoder_micro.cpp) and reported as unavailable elsewhere
// (decoder_micro_unavailable.cpp).
#ifndef KOLVANE_BENCH_DECODER_MICRO_H
#define KOLVANE_BENCH_DECODER_MICRO_H

#include <string>
#include <vector>

namespace kolvane {
namespace bench {

struct MicroResult {
  std::string name;
  double nsPerPoll;
};

// False when this build has no micro-benchmark.
bool DecoderMicroAvailable();
// Runs the decoder benchmarks; quick shortens each run.
std::vector<MicroResult> RunDecoderMicro(bool quick);

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_DECODER_MICRO_H
