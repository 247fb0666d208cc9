// A host built for measuring: it loads the module by path like any host,
// starts it on the simulated card, and timestamps every poll of the receiver
// register and every key report on the poll thread. Nothing here allocates
// once set up, so the allocation counter sees the module alone.
#ifndef KOLVANE_BENCH_HARNESS_H
#define KOLVANE_BENCH_HARNESS_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>

#include "kolvane/kolvane.h"
#include "receiver/device.h"
#include "testbed/counted_object.h"
#include "testbed/module_loader.h"
#include "testbed/sim_card.h"

namespace kolvane {
namespace bench {

// Monotonic time in nanoseconds, and a sleep until such a time.
int64_t NowNs();
void SleepUntilNs(int64_t time);

// The key sink: keeps the time of each report in a fixed array.
class KeyRecorder final : public testbed::CountedObject<IRemoteKeySink> {
 public:
  static constexpr size_t kCapacity = 16384;

  KeyRecorder() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override;

  // Reports so far; time(i) is valid for i < min(count(), kCapacity).
  uint64_t count() const { return count_.load(std::memory_order_acquire); }
  int64_t time(uint64_t index) const { return times_[index % kCapacity]; }

 private:
  std::atomic<uint64_t> count_{0};
  int64_t times_[kCapacity] = {};
};

class Harness {
 public:
  Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;
  ~Harness();

  // Loads the module file and creates one module object.
  bool Load(const std::string& path, std::string* error);

  HRESULT Start();
  // Starts the module on idleCard(), the card alone with no observer (a few
  // atomic words), so the CPU rounds weigh the module's poll against the
  // bare sleeper's wake-up rather than the harness's bookkeeping.
  HRESULT StartIdle();
  HRESULT Stop();
  // Creates and releases a second module object: an allocation the
  // counter must see.
  void CreateAndReleaseSpareModule();

  testbed::SimCard& device() { return device_; }
  const testbed::SimCard& idleCard() const { return idleCard_; }
  const KeyRecorder& keys() const { return keys_; }

  // Polls of register 0x200 so far, and what the latest one saw.
  uint64_t polls() const { return polls_.load(std::memory_order_acquire); }
  uint8_t lastPolledByte() const { return lastByte_.load(std::memory_order_acquire); }
  int64_t lastPollNs() const { return lastPollNs_.load(std::memory_order_acquire); }
  // Time of the latest poll that read a byte with the held bit clear.
  int64_t lastClearPollNs() const { return lastClearPollNs_.load(std::memory_order_acquire); }
  // The poll thread's own allocation count at the latest poll; read right
  // after a poll (see WaitForPolls) it pairs with polls().
  uint64_t pollThreadAllocations() const { return allocationsAtPoll_.load(std::memory_order_acquire); }

  // Sleep in 1 ms steps until the condition holds or timeoutMs passes.
  bool WaitForPolls(uint64_t count, int timeoutMs) const;
  bool WaitForKeys(uint64_t count, int timeoutMs) const;
  // Polls of the idle card since its latest Start's set-up.
  bool WaitForIdleCardPolls(uint64_t count, int timeoutMs) const;
  // Sets the receiver byte and waits until a later poll has read it.
  bool SetByteAndWaitForPoll(uint8_t byte, int timeoutMs);

 private:
  void OnAccess(const testbed::RegisterAccess& access);

  testbed::LoadedModule library_;
  IRemoteModule* module_ = nullptr;
  testbed::SimCard device_;
  testbed::SimCard idleCard_;
  KeyRecorder keys_;
  std::atomic<uint64_t> polls_{0};
  std::atomic<uint8_t> lastByte_{0};
  std::atomic<int64_t> lastPollNs_{0};
  std::atomic<int64_t> lastClearPollNs_{0};
  std::atomic<uint64_t> allocationsAtPoll_{0};
};

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_HARNESS_H
