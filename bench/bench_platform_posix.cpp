// glibc back end. The allocator is replaced for the whole process: these
// definitions of malloc, calloc, realloc and memalign take precedence over
// libc's for every caller, the module's operator new and libc's own fopen
// included, count the call and hand it to glibc's allocator.
#include <stddef.h>
#include <time.h>

#include <atomic>

#include "bench/bench_platform.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

// Constant-initialised, so counting works before main; the thread-local
// count is a plain word in the executable's static TLS, reached without a
// call that could allocate.
std::atomic<uint64_t> allocations{0};

// Per thread as well, so the poll thread's count is not mixed with the
// measuring thread's.
thread_local uint64_t threadAllocations = 0;

void CountAllocation() {
  allocations.fetch_add(1, std::memory_order_relaxed);
  ++threadAllocations;
}

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
  CountAllocation();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
  CountAllocation();
  return __libc_calloc(count, size);
}

void* realloc(void* memory, size_t size) noexcept {
  CountAllocation();
  return __libc_realloc(memory, size);
}

void* memalign(size_t alignment, size_t size) noexcept {
  CountAllocation();
  return __libc_memalign(alignment, size);
}

}  // extern "C"

namespace kolvane {
namespace bench {

std::string PlatformName() { return "Linux, native"; }

// The win32 preset's build sits beside this one: build/linux/bin/libkolvane.so
// leads to build/win32/bin/kolvane.dll.
std::string DefaultDllPath(const std::string& modulePath) {
  const size_t slash = modulePath.find_last_of('/');
  const std::string bin = slash == std::string::npos ? "." : modulePath.substr(0, slash);
  return bin + "/../../win32/bin/kolvane.dll";
}

double ProcessCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const char* InstallAllocationCounter(const char*) {
  return "every malloc/calloc/realloc of the process (replaced allocator)";
}

uint64_t AllocationCount() { return allocations.load(std::memory_order_relaxed); }

uint64_t ThreadAllocationCount() { return threadAllocations; }

}  // namespace bench
}  // namespace kolvane
