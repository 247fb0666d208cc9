// Builds without Google Benchmark (the mingw ones) have no micro part.
#include "bench/decoder_micro.h"

namespace kolvane {
namespace bench {

bool DecoderMicroAvailable() { return false; }

std::vector<MicroResult> RunDecoderMicro(bool) { return {}; }

}  // namespace bench
}  // namespace kolvane
