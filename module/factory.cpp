// The module's one export.
#include "module/polled_remote_module.h"
#include "receiver/remote_keys.h"

#ifdef _WIN32
#define KOLVANE_EXPORT
#else
#define KOLVANE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KOLVANE_EXPORT IRemoteModule* STDMETHODCALLTYPE GetInterfacePtr(void) {
  using kolvane::PolledRemoteModule;
  return new (std::nothrow) PolledRemoteModule(kolvane::RemoteKeyTable, kolvane::kRemoteKeyCount);
}
