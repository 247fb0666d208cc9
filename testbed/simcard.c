/* The simulated card of kolvane/simcard.h, compiled once for kolvane-host,
 * the benchmark and the tests: the very card a host's own test compiles in,
 * built as a C host builds it. */
#define KOLVANE_SIMCARD_IMPLEMENTATION
#include "kolvane/simcard.h"
