// Win32 back end: exactly the kernel calls the module needs, nothing more.
#include <windows.h>

#include "fault_injection.h"
#include "platform.h"

namespace kolvane {
namespace platform {
namespace {

HANDLE AsHandle(const void* object) { return const_cast<HANDLE>(object); }

// `width` decimal digits of `value`, zero-padded.
char* PutDigits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
  return out + width;
}

}  // namespace

Event* CreateManualResetEvent() {
  if (ShouldFail(Fault::kEventCreation)) return nullptr;
  return static_cast<Event*>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

void SignalEvent(Event* event) {
  if (event != nullptr) SetEvent(AsHandle(event));
}

bool IsEventSignaled(Event* event) {
  return event != nullptr && WaitForSingleObject(AsHandle(event), 0) == WAIT_OBJECT_0;
}

void CloseEvent(Event* event) {
  if (event != nullptr) CloseHandle(AsHandle(event));
}

Thread* StartThread(ThreadProc proc, void* arg, size_t stackSize) {
  if (ShouldFail(Fault::kThreadCreation)) return nullptr;
  return static_cast<Thread*>(
      CreateThread(nullptr, stackSize, reinterpret_cast<LPTHREAD_START_ROUTINE>(proc), arg, 0, nullptr));
}

bool WaitForThread(Thread* thread, uint32_t timeoutMs) {
  return thread == nullptr || WaitForSingleObject(AsHandle(thread), timeoutMs) == WAIT_OBJECT_0;
}

void CloseThread(Thread* thread) {
  if (thread != nullptr) CloseHandle(AsHandle(thread));
}

ThreadId CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t TickCount() { return GetTickCount(); }

// The kernel's clock, written digit by digit: the C runtime's time and
// printf functions would pull more of mingw's code into the DLL.
void FormatLocalTime(char* buffer, size_t size) {
  constexpr size_t kLength = sizeof "YYYY-MM-DD HH:MM:SS" - 1;
  if (size <= kLength) {
    if (size > 0) buffer[0] = '\0';
    return;
  }
  SYSTEMTIME local;
  GetLocalTime(&local);
  char* out = PutDigits(buffer, local.wYear, 4);
  *out++ = '-';
  out = PutDigits(out, local.wMonth, 2);
  *out++ = '-';
  out = PutDigits(out, local.wDay, 2);
  *out++ = ' ';
  out = PutDigits(out, local.wHour, 2);
  *out++ = ':';
  out = PutDigits(out, local.wMinute, 2);
  *out++ = ':';
  out = PutDigits(out, local.wSecond, 2);
  *out = '\0';
}

const char* PlatformName() {
#if defined(_WIN64)
  return "windows x64";
#else
  return "windows x86";
#endif
}

// The thread's reference is found by an address in this very image.
ModuleImage* HoldModuleImage() {
  if (ShouldFail(Fault::kImageReference)) return nullptr;
  HMODULE image = nullptr;
  const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
  if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&HoldModuleImage), &image)) return nullptr;
  return reinterpret_cast<ModuleImage*>(image);
}

void ReleaseModuleImage(ModuleImage* image) {
  if (image != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(image));
}

void EndThreadReleasingModuleImage(ModuleImage* image) {
  if (image != nullptr) FreeLibraryAndExitThread(reinterpret_cast<HMODULE>(image), 0);
}

void PinModuleImage() {}

}  // namespace platform
}  // namespace kolvane
