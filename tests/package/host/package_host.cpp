// Loads the installed module from the path the package names and checks it
// answers the identifiers of the installed header.
#define KOLVANE_INIT_IIDS
#include <dlfcn.h>
#include <kolvane/kolvane.h>

#include <cstdio>

int main() {
  void* library = dlopen(HOST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::printf("cannot load %s: %s\n", HOST_MODULE_PATH, dlerror());
    return 1;
  }
  auto factory = reinterpret_cast<GetInterfacePtrFn>(dlsym(library, KOLVANE_FACTORY_EXPORT));
  IRemoteModule* module = factory != nullptr ? factory() : nullptr;
  if (module == nullptr) {
    std::printf("%s: no module from %s\n", HOST_MODULE_PATH, KOLVANE_FACTORY_EXPORT);
    return 1;
  }
  void* same = nullptr;
  void* registers = &registers;
  const HRESULT asModule = module->QueryInterface(IID_IRemoteModule, &same);
  const HRESULT asRegisters = module->QueryInterface(IID_IDeviceRegisters, &registers);
  if (same != nullptr) static_cast<IUnknown*>(same)->Release();
  const ULONG left = module->Release();
  std::printf("module %s: IRemoteModule 0x%08lX, IDeviceRegisters 0x%08lX, references left %lu\n", HOST_MODULE_PATH,
              static_cast<unsigned long>(static_cast<uint32_t>(asModule)),
              static_cast<unsigned long>(static_cast<uint32_t>(asRegisters)), static_cast<unsigned long>(left));
  const bool ok =
      asModule == S_OK && same == module && asRegisters == E_NOINTERFACE && registers == nullptr && left == 0;
  dlclose(library);
  return ok ? 0 : 1;
}
