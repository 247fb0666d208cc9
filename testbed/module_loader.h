// Loads the module the way a host does: by path, then the factory by its
// exported name. Used by kolvane-host, the tests and the benchmarks; none of
// them links against the module.
#ifndef KOLVANE_TESTBED_MODULE_LOADER_H
#define KOLVANE_TESTBED_MODULE_LOADER_H

#include <string>

#include "kolvane/kolvane.h"

namespace kolvane {
namespace testbed {

class LoadedModule {
 public:
  LoadedModule() = default;
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  ~LoadedModule();

  // Loads the module file at `path` and finds KOLVANE_FACTORY_EXPORT. On
  // failure returns false and error() names the path and the loader's reason.
  bool Load(const std::string& path);
  // Gives the loader's reference back (FreeLibrary, dlclose); the factory is
  // null again. Nothing when not loaded.
  void Unload();
  // The factory; null until Load succeeds.
  GetInterfacePtrFn factory() const { return factory_; }
  const std::string& error() const { return error_; }

 private:
  void* library_ = nullptr;
  GetInterfacePtrFn factory_ = nullptr;
  std::string error_;
};

// Sets an environment variable of this process, where the loaded module
// reads it (KOLVANE_TRACE), or removes it when `value` is null; false on
// failure.
bool SetModuleEnvironment(const char* name, const char* value);
// The same with `value` in UTF-8, whatever the system's code page (Windows:
// set as UTF-16).
bool SetModuleEnvironmentUtf8(const char* name, const char* value);

// Whether the module file at `path` is mapped in this process, by anyone,
// without loading it.
bool IsModuleLoaded(const std::string& path);

// The module file that the build puts beside the running executable.
std::string ModulePathBesideExecutable();

// The module kolvane-host loads unless told otherwise: the one beside the
// executable (the build tree, a Windows install), else the installed one in
// lib/ of a Linux install.
std::string DefaultModulePath();

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_MODULE_LOADER_H
