// The receiver-polling module: sets up the tuner's receiver registers, polls
// the receiver byte every kPollPeriodMs and reports keys from the key table.
#ifndef KOLVANE_MODULE_POLLED_REMOTE_MODULE_H
#define KOLVANE_MODULE_POLLED_REMOTE_MODULE_H

#include <stdint.h>

#include "module/remote_module_base.h"
#include "receiver/remote_keys.h"

namespace kolvane {

class PolledRemoteModule final : public RemoteModuleBase {
 public:
  PolledRemoteModule(const RemoteKey* table, int32_t tableSize);

 protected:
  HRESULT Run() override;

 private:
  // Reports `code` to the sink by name and label, if the table has it;
  // returns the key reported, or null.
  const RemoteKey* DispatchKey(uint32_t code);

  const RemoteKey* const keys_;  // constant table, not owned
  const int32_t keyCount_;
};

}  // namespace kolvane

#endif  // KOLVANE_MODULE_POLLED_REMOTE_MODULE_H
