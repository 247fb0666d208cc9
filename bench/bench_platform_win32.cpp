// Windows back end. The module links the C runtime dynamically, so its heap
// allocations go through its import table; the counter replaces the
// module's imports of malloc, calloc and realloc with counting wrappers.
// Allocations inside the runtime itself (fopen's buffers) are not seen.
#include <windows.h>

#include <atomic>

#include "bench/bench_platform.h"

namespace {

using MallocFn = void*(__cdecl*)(size_t);
using CallocFn = void*(__cdecl*)(size_t, size_t);
using ReallocFn = void*(__cdecl*)(void*, size_t);

std::atomic<uint64_t> allocations{0};
MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;

// Per thread as well, so the poll thread's count is not mixed with the
// measuring thread's.
thread_local uint64_t threadAllocations = 0;

void CountAllocation() {
  allocations.fetch_add(1, std::memory_order_relaxed);
  ++threadAllocations;
}

void* __cdecl CountingMalloc(size_t size) {
  CountAllocation();
  return realMalloc(size);
}

void* __cdecl CountingCalloc(size_t count, size_t size) {
  CountAllocation();
  return realCalloc(count, size);
}

void* __cdecl CountingRealloc(void* memory, size_t size) {
  CountAllocation();
  return realRealloc(memory, size);
}

// Swaps one import slot, keeping what it held.
template <typename Fn>
void Replace(ULONG_PTR* slot, Fn hook, Fn* original) {
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return;
  Fn* entry = reinterpret_cast<Fn*>(slot);  // the loader stored a function's address there
  *original = *entry;
  *entry = hook;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

// Patches the C runtime imports of the loaded module; returns how many.
int PatchImports(HMODULE module) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return 0;
  int patched = 0;
  for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "msvcrt.dll") != 0) continue;
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char* name = reinterpret_cast<const char*>(
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      ULONG_PTR* slot = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
      if (lstrcmpA(name, "malloc") == 0) {
        Replace(slot, &CountingMalloc, &realMalloc);
        ++patched;
      } else if (lstrcmpA(name, "calloc") == 0) {
        Replace(slot, &CountingCalloc, &realCalloc);
        ++patched;
      } else if (lstrcmpA(name, "realloc") == 0) {
        Replace(slot, &CountingRealloc, &realRealloc);
        ++patched;
      }
    }
  }
  return patched;
}

}  // namespace

namespace kolvane {
namespace bench {

std::string PlatformName() {
  // Wine's ntdll has an export that Windows' lacks.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  return wine ? "Windows build under Wine (timer figures indicative only)" : "Windows";
}

std::string DefaultDllPath(const std::string& modulePath) { return modulePath; }

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
}

const char* InstallAllocationCounter(const char* moduleFile) {
  HMODULE module = GetModuleHandleA(moduleFile);
  if (module == nullptr || PatchImports(module) == 0) return nullptr;
  return "the module's own malloc/calloc/realloc calls (import table; not the C runtime's inner ones)";
}

uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }

uint64_t ThreadAllocationCount() { return threadAllocations; }

}  // namespace bench
}  // namespace kolvane
