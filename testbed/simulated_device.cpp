#include "testbed/simulated_device.h"

#include "receiver/device.h"

namespace kolvane {
namespace testbed {
namespace {

constexpr uint32_t kOffsets[] = {kRegisterControl, kRegisterGpio, kRegisterReceiver};
constexpr uint32_t kReceiverMask = kReceiverByteMask << kReceiverByteShift;

}  // namespace

SimulatedDevice::SimulatedDevice() : CountedObject(&IID_IDeviceRegisters) {
  for (uint32_t& value : registers_) value = kRegisterResetValue;
}

HRESULT STDMETHODCALLTYPE SimulatedDevice::Reserved() { return S_OK; }

int SimulatedDevice::IndexOf(uint32_t offset) const {
  for (int i = 0; i < kRegisterCount; ++i) {
    if (kOffsets[i] == offset) return i;
  }
  return -1;
}

uint32_t SimulatedDevice::Register(uint32_t offset) const {
  const int index = IndexOf(offset);
  if (index < 0) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t value = registers_[index];
  if (offset == kRegisterReceiver) {
    value = (value & ~kReceiverMask) | (static_cast<uint32_t>(receiverByte()) << kReceiverByteShift);
  }
  return value;
}

HRESULT STDMETHODCALLTYPE SimulatedDevice::ReadRegister(uint32_t offset, uint32_t* value) {
  if (value == nullptr) return E_POINTER;
  if (IndexOf(offset) < 0) return E_UNEXPECTED;
  *value = Register(offset);
  if (offset == kRegisterReceiver) receiverPolls_.fetch_add(1, std::memory_order_relaxed);
  if (observer_) observer_(RegisterAccess{false, offset, *value});
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SimulatedDevice::WriteRegister(uint32_t offset, uint32_t value) {
  const int index = IndexOf(offset);
  if (index < 0) return E_UNEXPECTED;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The receiver byte is the receiver's, not writable.
    registers_[index] = offset == kRegisterReceiver ? (value & ~kReceiverMask) : value;
  }
  if (observer_) observer_(RegisterAccess{true, offset, value});
  return S_OK;
}

}  // namespace testbed
}  // namespace kolvane
