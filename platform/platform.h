// The module's only door to the operating system. win32.cpp and posix.cpp
// implement these functions; the build picks one. Handles are opaque and a
// null handle is accepted (and ignored) by every function that takes one, so
// cleanup paths need no checks of their own.
#ifndef KOLVANE_PLATFORM_PLATFORM_H
#define KOLVANE_PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32) && defined(__i386__)
#define KOLVANE_THREAD_CALL __attribute__((stdcall))
#else
#define KOLVANE_THREAD_CALL
#endif

namespace kolvane {
namespace platform {

struct Event;   // manual-reset event
struct Thread;  // a joinable thread
using ThreadId = uintptr_t;
using ThreadProc = uint32_t(KOLVANE_THREAD_CALL*)(void* arg);

// An unnamed manual-reset event, initially not signalled; null on failure.
Event* CreateManualResetEvent();
// Signals the event; it stays signalled.
void SignalEvent(Event* event);
// True only when the event is signalled (a zero-timeout wait).
bool IsEventSignaled(Event* event);
void CloseEvent(Event* event);

// Starts proc(arg) at once on a new thread with the given stack size. Null
// on failure.
Thread* StartThread(ThreadProc proc, void* arg, size_t stackSize);
// Waits at most timeoutMs for the thread to end; true when it has ended.
bool WaitForThread(Thread* thread, uint32_t timeoutMs);
// Gives the handle back; a thread still running goes on, detached.
void CloseThread(Thread* thread);
ThreadId CurrentThreadId();

void SleepMs(uint32_t milliseconds);
// Milliseconds since an arbitrary start, wrapping modulo 2^32.
uint32_t TickCount();

// Opens the shared log for appending text; null on failure.
FILE* OpenLog(const char* path);
void CloseLog(FILE* file);

// The trace of a run (see receiver/trace_format.h).
// Copies the environment variable's value into `buffer`; false when it is
// unset, empty or does not fit, with `buffer` then holding "".
bool ReadEnvironment(const char* name, char* buffer, size_t size);
// Opens a file for appending bytes as they are, no line ends translated;
// null on failure.
FILE* OpenTrace(const char* path);
// The local date and time, "YYYY-MM-DD HH:MM:SS".
void FormatLocalTime(char* buffer, size_t size);
// The system and processor the module was built for, "linux x86_64".
const char* PlatformName();

// The module's own image: the DLL or shared object (in a static test build,
// the program) whose code this is. A host may unload the module as soon as
// Stop returns, even while a thread that Stop gave up still runs that code;
// these keep the code mapped for as long as such a thread lives.
struct ModuleImage;
// Start, before the thread is created: a reference on the image for that
// thread to give back as its last act. Null on failure. Windows: the
// module's HMODULE, counted (GetModuleHandleExW). POSIX: a thread cannot
// unmap the code it returns into, so no reference is taken (PinModuleImage
// covers the case); a non-null token.
ModuleImage* HoldModuleImage();
// Gives back a reference no thread took over (the thread was not created).
void ReleaseModuleImage(ModuleImage* image);
// The last call of the thread `image` was taken for. Windows: gives the
// reference back and ends the thread in one call (FreeLibraryAndExitThread),
// so no code of the image runs once it may be unmapped; it does not return
// unless `image` is null. POSIX: returns at once; the thread ends by
// returning.
void EndThreadReleasingModuleImage(ModuleImage* image);
// For a thread given up while it may still run in the image: keeps the image
// loaded until the process ends. POSIX: the image is reopened with
// RTLD_NODELETE and never closed (nothing to pin when the code is the
// program's own). Windows: nothing; the thread's own reference covers it.
void PinModuleImage();

}  // namespace platform
}  // namespace kolvane

#endif  // KOLVANE_PLATFORM_PLATFORM_H
