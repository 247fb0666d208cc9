// What the benchmark needs from the operating system beyond the standard
// library. bench_platform_posix.cpp and bench_platform_win32.cpp implement it.
#ifndef KOLVANE_BENCH_BENCH_PLATFORM_H
#define KOLVANE_BENCH_BENCH_PLATFORM_H

#include <stdint.h>

#include <string>

namespace kolvane {
namespace bench {

// Where the measurements run, for the report.
std::string PlatformName();
// The shipped Windows DLL whose size is checked: the module itself on
// Windows, the win32 build's beside this build folder when measuring natively.
std::string DefaultDllPath(const std::string& modulePath);

// CPU time (user + system) of the whole process so far, in seconds.
double ProcessCpuSeconds();

// Starts counting heap allocations once the module file is loaded. Returns
// what is counted, or null when nothing can be.
const char* InstallAllocationCounter(const char* moduleFile);
// Allocations counted so far, in the whole process and on the calling
// thread alone.
uint64_t AllocationCount();
uint64_t ThreadAllocationCount();

}  // namespace bench
}  // namespace kolvane

#endif  // KOLVANE_BENCH_BENCH_PLATFORM_H
