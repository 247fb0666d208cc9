// Shared by both back ends; compiled into test builds only.
#include "fault_injection.h"

#include <atomic>

namespace kolvane {
namespace platform {
namespace {

std::atomic<int> pending[kFaultCount];

std::atomic<int>& PendingFor(Fault fault) { return pending[static_cast<int>(fault)]; }

std::atomic<TimedWaitStandIn> timedWaitStandIn{nullptr};

}  // namespace

void FailNext(Fault fault, int count) { PendingFor(fault).store(count); }

bool ShouldFail(Fault fault) {
  std::atomic<int>& left = PendingFor(fault);
  int now = left.load();
  while (now > 0) {
    if (left.compare_exchange_weak(now, now - 1)) return true;
  }
  return false;
}

void StandInForTimedWait(TimedWaitStandIn standIn) { timedWaitStandIn.store(standIn); }

TimedWaitStandIn TimedWaitStandInNow() { return timedWaitStandIn.load(); }

}  // namespace platform
}  // namespace kolvane
