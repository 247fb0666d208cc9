#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "testbed/module_loader.h"

namespace kolvane {
namespace testbed {

LoadedModule::~LoadedModule() { Unload(); }

void LoadedModule::Unload() {
  if (library_ != nullptr) dlclose(library_);
  library_ = nullptr;
  factory_ = nullptr;
}

bool LoadedModule::Load(const std::string& path) {
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    const char* reason = dlerror();
    error_ = "cannot load module " + path + ": " + (reason != nullptr ? reason : "unknown error");
    return false;
  }
  factory_ = reinterpret_cast<GetInterfacePtrFn>(dlsym(library_, KOLVANE_FACTORY_EXPORT));
  if (factory_ == nullptr) {
    error_ = "module " + path + " has no export " KOLVANE_FACTORY_EXPORT;
    dlclose(library_);
    library_ = nullptr;
    return false;
  }
  return true;
}

bool SetModuleEnvironment(const char* name, const char* value) {
  return (value != nullptr ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool SetModuleEnvironmentUtf8(const char* name, const char* value) { return SetModuleEnvironment(name, value); }

bool IsModuleLoaded(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return false;
  dlclose(library);  // NOLOAD took a reference all the same
  return true;
}

std::string ModulePathBesideExecutable() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string directory = ".";
  if (length > 0) {
    directory.assign(self, static_cast<size_t>(length));
    directory.erase(directory.find_last_of('/'));
  }
  return directory + "/" KOLVANE_MODULE_FILE;
}

std::string DefaultModulePath() {
  std::string beside = ModulePathBesideExecutable();
  std::string installed = beside.substr(0, beside.find_last_of('/') + 1) + KOLVANE_INSTALLED_MODULE_FROM_BINDIR;
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

}  // namespace testbed
}  // namespace kolvane
