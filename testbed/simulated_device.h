// A simulated tuner card: the host object a module is started with, and the
// register access it hands out. Registers 0x10C, 0x118 and 0x200 hold reset
// values; the receiver byte (bits 16-23 of 0x200) idles at 0xFF, bit 0 set:
// no key. The driver sets the byte from any thread; the module reads it on
// its poll thread. The owner keeps it; references are only counted.
#ifndef KOLVANE_TESTBED_SIMULATED_DEVICE_H
#define KOLVANE_TESTBED_SIMULATED_DEVICE_H

#include <stdint.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "kolvane/kolvane.h"
#include "receiver/device.h"
#include "testbed/counted_object.h"

namespace kolvane {
namespace testbed {

constexpr uint32_t kRegisterResetValue = 0x00000000;

// One register access the module made, for --verbose and the timeline.
struct RegisterAccess {
  bool write;
  uint32_t offset;
  uint32_t value;
};

// One object is both faces: the host object answers IID_IDeviceRegisters
// with itself.
class SimulatedDevice : public CountedObject<IDeviceRegisters> {
 public:
  SimulatedDevice();

  // IDeviceRegisters
  HRESULT STDMETHODCALLTYPE Reserved() override;
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t offset, uint32_t* value) override;
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t offset, uint32_t value) override;

  IUnknown* host() { return this; }

  // The receiver byte the next poll of 0x200 will see.
  void SetReceiverByte(uint8_t byte) { receiverByte_.store(byte, std::memory_order_relaxed); }
  uint8_t receiverByte() const { return receiverByte_.load(std::memory_order_relaxed); }
  // A key pressed (the code) or held (the code with bit 0 set).
  void Press(uint8_t code) { SetReceiverByte(code); }
  void Hold(uint8_t code) { SetReceiverByte(static_cast<uint8_t>(code | kHeldBit)); }
  void ReleaseKey() { SetReceiverByte(kIdleReceiverByte); }

  // Called on the poll thread for every register access; set before Start.
  void SetAccessObserver(std::function<void(const RegisterAccess&)> observer) { observer_ = std::move(observer); }

  uint32_t Register(uint32_t offset) const;
  uint64_t receiverPolls() const { return receiverPolls_.load(std::memory_order_relaxed); }
  // References held by others; 0 once the module has given all back.
  ULONG outstandingReferences() const { return static_cast<ULONG>(references()); }

 private:
  static constexpr int kRegisterCount = 3;
  int IndexOf(uint32_t offset) const;

  std::atomic<uint8_t> receiverByte_{kIdleReceiverByte};
  std::atomic<uint64_t> receiverPolls_{0};
  mutable std::mutex mutex_;
  uint32_t registers_[kRegisterCount];
  std::function<void(const RegisterAccess&)> observer_;
};

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_SIMULATED_DEVICE_H
