// Counts of the process's threads and open handles (file descriptors on
// Linux), to show that a long run of starts and stops leaves nothing behind.
#ifndef KOLVANE_TESTS_SUPPORT_PROCESS_RESOURCES_H
#define KOLVANE_TESTS_SUPPORT_PROCESS_RESOURCES_H

#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h>  // needs <windows.h> first
#else
#include <filesystem>
#endif

#include "tests/support/wait.h"

namespace kolvane {
namespace test {

struct ProcessResources {
  long threads = -1;  // -1: not available here
  long handles = -1;
};

#ifdef _WIN32
inline ProcessResources CountProcessResources() {
  ProcessResources counts;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    long threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
    }
    CloseHandle(snapshot);
    counts.threads = threads;
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) counts.handles = static_cast<long>(handles);
  return counts;
}
#else
inline long CountEntries(const char* directory) {
  long count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}
inline ProcessResources CountProcessResources() {
  return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")};
}
#endif

// Waits, generously, until the threads and handles are back at `before` or
// below, for threads that end just after their last act; `after` gets the
// counts last seen.
inline bool ResourcesSettleTo(const ProcessResources& before, ProcessResources& after) {
  return WaitUntil([&] {
    after = CountProcessResources();
    return after.threads <= before.threads && after.handles <= before.handles;
  });
}

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_PROCESS_RESOURCES_H
