#include "bench/harness.h"

#include <chrono>
#include <thread>

#include "bench/bench_platform.h"

namespace kolvane {
namespace bench {
namespace {

template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
  const int64_t deadline = NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  while (!condition()) {
    if (NowNs() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepUntilNs(int64_t time) {
  std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(time))));
}

HRESULT STDMETHODCALLTYPE KeyRecorder::OnKey(const char*, const char*) {
  const uint64_t index = count_.load(std::memory_order_relaxed);
  times_[index % kCapacity] = NowNs();
  count_.store(index + 1, std::memory_order_release);
  return S_OK;
}

Harness::Harness() {
  device_.SetAccessObserver([this](const testbed::RegisterAccess& access) { OnAccess(access); });
}

Harness::~Harness() {
  if (module_ != nullptr) {
    module_->Stop();
    module_->Release();
  }
}

bool Harness::Load(const std::string& path, std::string* error) {
  if (!library_.Load(path)) {
    *error = library_.error();
    return false;
  }
  module_ = library_.factory()();
  if (module_ == nullptr) {
    *error = "the factory returned no module";
    return false;
  }
  return true;
}

void Harness::CreateAndReleaseSpareModule() {
  IRemoteModule* spare = library_.factory()();
  if (spare != nullptr) spare->Release();
}

HRESULT Harness::Start() { return module_->Start(&keys_, device_.host()); }

HRESULT Harness::StartIdle() { return module_->Start(&keys_, idleCard_.host()); }

HRESULT Harness::Stop() { return module_->Stop(); }

void Harness::OnAccess(const testbed::RegisterAccess& access) {
  if (access.write || access.offset != kRegisterReceiver) return;
  const auto byte = static_cast<uint8_t>(access.value >> kReceiverByteShift);
  const int64_t now = NowNs();
  if (!IsHeldByte(byte)) lastClearPollNs_.store(now, std::memory_order_release);
  lastPollNs_.store(now, std::memory_order_release);
  lastByte_.store(byte, std::memory_order_release);
  allocationsAtPoll_.store(ThreadAllocationCount(), std::memory_order_release);
  polls_.fetch_add(1, std::memory_order_acq_rel);
}

bool Harness::WaitForPolls(uint64_t count, int timeoutMs) const {
  return WaitUntil([&] { return polls() >= count; }, timeoutMs);
}

bool Harness::WaitForKeys(uint64_t count, int timeoutMs) const {
  return WaitUntil([&] { return keys_.count() >= count; }, timeoutMs);
}

bool Harness::WaitForIdleCardPolls(uint64_t count, int timeoutMs) const {
  return WaitUntil([&] { return idleCard_.receiverPolls() >= count; }, timeoutMs);
}

bool Harness::SetByteAndWaitForPoll(uint8_t byte, int timeoutMs) {
  device_.SetReceiverByte(byte);
  // A poll under way may have read the old byte; the one after it cannot.
  const uint64_t next = polls() + 1;
  if (!WaitForPolls(next, timeoutMs)) return false;
  return lastPolledByte() == byte || (WaitForPolls(next + 1, timeoutMs) && lastPolledByte() == byte);
}

}  // namespace bench
}  // namespace kolvane
