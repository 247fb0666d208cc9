#include <windows.h>

#include "testbed/module_loader.h"

namespace kolvane {
namespace testbed {
namespace {

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

LoadedModule::~LoadedModule() { Unload(); }

void LoadedModule::Unload() {
  if (library_ != nullptr) FreeLibrary(static_cast<HMODULE>(library_));
  library_ = nullptr;
  factory_ = nullptr;
}

bool LoadedModule::Load(const std::string& path) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) {
    error_ = "cannot load module " + path + ": " + SystemMessage(GetLastError());
    return false;
  }
  factory_ =
      reinterpret_cast<GetInterfacePtrFn>(reinterpret_cast<void*>(GetProcAddress(library, KOLVANE_FACTORY_EXPORT)));
  if (factory_ == nullptr) {
    error_ = "module " + path + " has no export " KOLVANE_FACTORY_EXPORT;
    FreeLibrary(library);
    return false;
  }
  library_ = library;
  return true;
}

// The process's environment block, which the module reads.
bool SetModuleEnvironment(const char* name, const char* value) { return SetEnvironmentVariableA(name, value) != 0; }

bool SetModuleEnvironmentUtf8(const char* name, const char* value) {
  const auto wide = [](const char* text) {
    std::wstring out(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0)), L'\0');
    if (!out.empty()) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], static_cast<int>(out.size()));
    return out;
  };
  const std::wstring wideName = wide(name);
  if (value == nullptr) return SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0;
  return SetEnvironmentVariableW(wideName.c_str(), wide(value).c_str()) != 0;
}

// GetModuleHandleA takes no reference.
bool IsModuleLoaded(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }

std::string ModulePathBesideExecutable() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  const size_t slash = path.find_last_of("\\/");
  path.erase(slash == std::string::npos ? 0 : slash + 1);
  return path + KOLVANE_MODULE_FILE;
}

std::string DefaultModulePath() { return ModulePathBesideExecutable(); }

}  // namespace testbed
}  // namespace kolvane
