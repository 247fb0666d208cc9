// POSIX back end: pthreads and CLOCK_MONOTONIC, with the Win32 back end's
// contracts (manual-reset event, bounded join, a 32-bit tick that wraps).
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <new>

#include "fault_injection.h"
#include "platform.h"

namespace kolvane {
namespace platform {

struct Event {
  pthread_mutex_t mutex;
  bool signaled;
};

struct Thread {
  pthread_t thread;
  bool joined;
};

struct ModuleImage {};

namespace {

constexpr long kNanosPerMilli = 1000000L;
constexpr long kNanosPerSecond = 1000000000L;

timespec DeadlineAfter(uint32_t milliseconds) {
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * kNanosPerMilli;
  if (deadline.tv_nsec >= kNanosPerSecond) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= kNanosPerSecond;
  }
  return deadline;
}

// A file-size limit answers a write that starts at it with SIGXFSZ, which
// ends the process by default; on the module's own thread it stays pending
// and the write fails with EFBIG. The host's threads keep their masks.
void BlockFileSizeSignal() {
  sigset_t fileSize;
  sigemptyset(&fileSize);
  sigaddset(&fileSize, SIGXFSZ);
  pthread_sigmask(SIG_BLOCK, &fileSize, nullptr);
}

}  // namespace

// Only a zero-timeout test is ever asked of the event, so a mutex-guarded
// flag is all it needs: no condition variable, nothing to wake.
Event* CreateManualResetEvent() {
  if (ShouldFail(Fault::kEventCreation)) return nullptr;
  Event* event = new (std::nothrow) Event;
  if (event == nullptr) return nullptr;
  if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
    delete event;
    return nullptr;
  }
  event->signaled = false;
  return event;
}

void SignalEvent(Event* event) {
  if (event == nullptr) return;
  pthread_mutex_lock(&event->mutex);
  event->signaled = true;
  pthread_mutex_unlock(&event->mutex);
}

bool IsEventSignaled(Event* event) {
  if (event == nullptr) return false;
  pthread_mutex_lock(&event->mutex);
  const bool signaled = event->signaled;
  pthread_mutex_unlock(&event->mutex);
  return signaled;
}

void CloseEvent(Event* event) {
  if (event == nullptr) return;
  pthread_mutex_destroy(&event->mutex);
  delete event;
}

Thread* StartThread(ThreadProc proc, void* arg, size_t stackSize) {
  if (ShouldFail(Fault::kThreadCreation)) return nullptr;
  Thread* thread = new (std::nothrow) Thread;
  if (thread == nullptr) return nullptr;
  thread->joined = false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete thread;
    return nullptr;
  }
  // Below the system's minimum the request would fail; take the minimum.
  const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  pthread_attr_setstacksize(&attr, stackSize < minimum ? minimum : stackSize);
  // Adapts the routine's signature to pthreads'. The start block is the
  // thread's own, so closing the handle early cannot pull it away.
  struct Start {
    static void* Run(void* start) {
      auto* self = static_cast<Start*>(start);
      ThreadProc proc = self->proc;
      void* arg = self->arg;
      delete self;
      BlockFileSizeSignal();
      proc(arg);
      return nullptr;
    }
    ThreadProc proc;
    void* arg;
  };
  Start* start = new (std::nothrow) Start{proc, arg};
  const int error = start == nullptr ? ENOMEM : pthread_create(&thread->thread, &attr, Start::Run, start);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete start;
    delete thread;
    return nullptr;
  }
  return thread;
}

bool WaitForThread(Thread* thread, uint32_t timeoutMs) {
  if (thread == nullptr || thread->joined) return true;
  const timespec deadline = DeadlineAfter(timeoutMs);
  int error;
  do {
    error = pthread_timedjoin_np(thread->thread, nullptr, &deadline);
  } while (error == EINTR);
  thread->joined = error == 0;
  return thread->joined;
}

void CloseThread(Thread* thread) {
  if (thread == nullptr) return;
  if (!thread->joined) pthread_detach(thread->thread);
  delete thread;
}

ThreadId CurrentThreadId() { return static_cast<ThreadId>(pthread_self()); }

void SleepMs(uint32_t milliseconds) {
  timespec left = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * kNanosPerMilli};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t TickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t millis =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / kNanosPerMilli);
  return static_cast<uint32_t>(millis);
}

void FormatLocalTime(char* buffer, size_t size) {
  const time_t now = time(nullptr);
  tm local;
  if (size == 0) return;
  if (localtime_r(&now, &local) == nullptr || strftime(buffer, size, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    buffer[0] = '\0';
  }
}

const char* PlatformName() {
#if defined(__x86_64__)
  return "linux x86_64";
#elif defined(__i386__)
  return "linux x86";
#elif defined(__aarch64__)
  return "linux aarch64";
#else
  return "linux";
#endif
}

// The image can only go once no thread runs in it, which no thread can wait
// for on its own behalf: PinModuleImage does the work.
ModuleImage* HoldModuleImage() {
  if (ShouldFail(Fault::kImageReference)) return nullptr;
  static ModuleImage noReference;
  return &noReference;
}

void ReleaseModuleImage(ModuleImage*) {}

void EndThreadReleasingModuleImage(ModuleImage*) {}

// Found by an address in this very image. NOLOAD only finds the object
// already loaded (for the program's own code it finds nothing, and the
// program stays anyway); NODELETE makes every later dlclose leave it mapped.
void PinModuleImage() {
  Dl_info self;
  if (dladdr(reinterpret_cast<void*>(&PinModuleImage), &self) == 0 || self.dli_fname == nullptr) return;
  dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace platform
}  // namespace kolvane
