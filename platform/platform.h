// The module's only door to the operating system. win32.cpp and
// files_win32.cpp, or posix.cpp and files_posix.cpp, implement these
// functions; the build picks the pair. Handles are opaque, and every function
// that takes one accepts a null handle: closing or signalling it does nothing,
// a null event is never signalled, a null thread has ended, a null file fails
// every call, a null module image ends no thread. So cleanup paths need no
// checks of their own (tests/unit/platform_null_handles_test.cpp).
#ifndef KOLVANE_PLATFORM_PLATFORM_H
#define KOLVANE_PLATFORM_PLATFORM_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

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
// on failure. POSIX: the thread runs with SIGXFSZ blocked (its own mask; the
// caller's is left alone), so a write of its past a file-size limit fails
// instead of ending the process.
Thread* StartThread(ThreadProc proc, void* arg, size_t stackSize);
// Waits at most timeoutMs for the thread to end; true when it has ended. The
// time is counted on a clock that setting the date does not move (POSIX:
// CLOCK_MONOTONIC; Windows: a relative wait).
bool WaitForThread(Thread* thread, uint32_t timeoutMs);
// Gives the handle back; a thread still running goes on, detached.
void CloseThread(Thread* thread);
ThreadId CurrentThreadId();

void SleepMs(uint32_t milliseconds);
// Milliseconds since an arbitrary start, wrapping modulo 2^32.
uint32_t TickCount();

// Files the module writes: the shared log and the trace. Either is opened
// without blocking (a FIFO or a device never waits for a peer) and used only
// when it is a regular file; a new one is private to its owner (POSIX: mode
// 0600; Windows: the default DACL of a new file), and no child process
// inherits it (O_CLOEXEC; a handle that is not inheritable). Every write
// appends at the file's end, whatever other writers have added. A null
// file fails every call.
struct File;

enum class FileOpen {
  kOpened,
  kCannotOpen,      // no such folder, no permission, a name the system refuses
  kNotRegularFile,  // a FIFO, a device, a directory
  kInUse,           // the trace only: another writer holds its lock
};

// The shared log, opened for appending only (Windows: FILE_APPEND_DATA, so
// two processes never write over each other's lines); null on failure. The
// name is short (the log's own).
File* OpenLogFile(const char* path);
// A trace file (path in UTF-8), opened for reading and appending, with an
// advisory lock that keeps every other writer out until it is closed
// (flock; LockFileEx on a byte far past any data, so readers still read).
// Null with the reason on failure.
File* OpenTraceFile(const char* path, FileOpen* result);
// The file's size now, from the file system; false on failure.
bool FileSize(File* file, uint64_t* size);
// Reads up to `size` bytes at `offset`; the count read, 0 on failure.
size_t ReadFileAt(File* file, uint64_t offset, char* buffer, size_t size);
enum class FileWrite {
  kWritten,
  kFailed,     // not all written: a full disk, a quota, an I/O error
  kSizeLimit,  // POSIX: it would pass the process's file-size limit
};

// Appends all of `text`. A write that would pass the process's file-size
// limit (RLIMIT_FSIZE, against the file's real size) is not begun, or not
// continued: the kernel would cut it short, or answer it with SIGXFSZ, whose
// default action ends the process.
FileWrite AppendToFile(File* file, const char* text, size_t length);
// Cuts the file back to `size`, to drop part of a line a failed append left.
// POSIX only; Windows writes all or nothing on a full disk, and an
// append-only handle cannot cut. False when nothing was cut.
bool CutFile(File* file, uint64_t size);
void CloseFile(File* file);
// The line end of a text file here: "\r\n" on Windows, "\n" elsewhere.
const char* TextLineEnd();
// printf-style formatting into `buffer` (size > 0), cut short where it does
// not fit and always terminated. Windows: msvcrt's own _vsnprintf, so no
// emulation of the C runtime's is linked into the DLL.
void FormatText(char* buffer, size_t size, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

// The trace of a run (see trace/format.h).
// Copies the environment variable's value, in UTF-8 (Windows: read as
// UTF-16), into `buffer`. Returns its length in bytes, 0 when it is unset or
// empty; a length of `size` or more means it does not fit, and `buffer`
// then holds "".
size_t ReadEnvironment(const char* name, char* buffer, size_t size);
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
