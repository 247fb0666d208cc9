// The receiver-polling module: sets up the tuner's receiver registers, polls
// the receiver byte every kPollPeriodMs and reports keys from the key table.
#ifndef KOLVANE_RECEIVER_POLLED_REMOTE_MODULE_H
#define KOLVANE_RECEIVER_POLLED_REMOTE_MODULE_H

#include <stdint.h>

#include "module/remote_module_base.h"

namespace kolvane {

constexpr uint32_t kPollPeriodMs = 20;

// Device registers by offset, and the bits the set-up sets in each.
constexpr uint32_t kRegisterControl = 0x10C;
constexpr uint32_t kControlSetupMask = 0x00000004;
constexpr uint32_t kRegisterGpio = 0x118;
constexpr uint32_t kGpioSetupMask = 0x00007000;
constexpr uint32_t kRegisterReceiver = 0x200;
constexpr uint32_t kReceiverSetupMask = 0x00007FC2;
constexpr uint32_t kReceiverByteShift = 16;  // the receiver byte is bits 16-23
constexpr uint32_t kReceiverByteMask = 0xFF;

class PolledRemoteModule final : public RemoteModuleBase {
 public:
  PolledRemoteModule(const RemoteKey* table, int32_t tableSize);

 protected:
  HRESULT Run() override;

 private:
  // Reports `code` to the sink by name and label, if the table has it.
  void DispatchKey(uint32_t code);
};

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_POLLED_REMOTE_MODULE_H
