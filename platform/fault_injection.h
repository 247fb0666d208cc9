// Fault injection for tests: a test build (KOLVANE_FAULT_INJECTION) can make
// the next event creation, thread creation, object allocation, reference
// on the module's own image or append to a file fail, and stand in for the
// wait for a thread. In the shipped module ShouldFail is a constant false and
// compiles away.
#ifndef KOLVANE_PLATFORM_FAULT_INJECTION_H
#define KOLVANE_PLATFORM_FAULT_INJECTION_H

#include <stdint.h>

namespace kolvane {
namespace platform {

enum class Fault { kEventCreation, kThreadCreation, kAllocation, kImageReference, kFileAppend };
constexpr int kFaultCount = 5;

#ifdef KOLVANE_FAULT_INJECTION
// Makes the next `count` attempts of `fault` fail.
void FailNext(Fault fault, int count = 1);
// Consumes one pending failure; true when the attempt must fail.
bool ShouldFail(Fault fault);

// POSIX: takes the place of the timed wait in WaitForThread, so a test sees
// the clock its deadline is on (a clockid_t) and the deadline, in
// nanoseconds on that clock. Returns false when the deadline has passed.
// Null: the real wait again.
using TimedWaitStandIn = bool (*)(int clock, int64_t deadlineNs);
void StandInForTimedWait(TimedWaitStandIn standIn);
TimedWaitStandIn TimedWaitStandInNow();
#else
inline bool ShouldFail(Fault) { return false; }
#endif

}  // namespace platform
}  // namespace kolvane

#endif  // KOLVANE_PLATFORM_FAULT_INJECTION_H
