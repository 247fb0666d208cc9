// POSIX back end: pthreads and CLOCK_MONOTONIC, with the Win32 back end's
// contracts (manual-reset event, bounded join, a 32-bit tick that wraps).
// Every timed wait runs on CLOCK_MONOTONIC, so setting the date neither
// stretches nor shortens it.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
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

// One block, shared by a thread and its handle: what the thread runs, and
// whether its routine has returned, told under the mutex on a condition
// variable waited on with CLOCK_MONOTONIC deadlines. The last of the two to
// let go frees it, so closing the handle early cannot pull it away.
struct Thread {
  ThreadProc proc;
  void* arg;
  pthread_t thread;
  bool joined;  // the handle's
  pthread_mutex_t mutex;
  pthread_cond_t changed;
  bool ended;
  int holders;  // the thread and its handle
};

struct ModuleImage {};

namespace {

constexpr long kNanosPerMilli = 1000000L;
constexpr long kNanosPerSecond = 1000000000L;
// The clock of every timed wait: setting the date does not move it.
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
// Between joins that find a thread still leaving: yields, then sleeps.
constexpr uint32_t kJoinYields = 100;
constexpr uint32_t kJoinRetryMs = 1;

timespec DeadlineAfter(uint32_t milliseconds) {
  timespec deadline;
  clock_gettime(kWaitClock, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * kNanosPerMilli;
  if (deadline.tv_nsec >= kNanosPerSecond) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= kNanosPerSecond;
  }
  return deadline;
}

bool Passed(const timespec& deadline) {
  timespec now;
  clock_gettime(kWaitClock, &now);
  return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// False once the deadline has passed. A test build may stand in for the wait.
bool WaitUntil(Thread* thread, const timespec& deadline) {
#ifdef KOLVANE_FAULT_INJECTION
  if (const TimedWaitStandIn standIn = TimedWaitStandInNow()) {
    return standIn(kWaitClock, static_cast<int64_t>(deadline.tv_sec) * kNanosPerSecond + deadline.tv_nsec);
  }
#endif
  return pthread_cond_clockwait(&thread->changed, &thread->mutex, kWaitClock, &deadline) != ETIMEDOUT;
}

Thread* NewThread(ThreadProc proc, void* arg) {
  Thread* thread = new (std::nothrow) Thread;
  if (thread == nullptr) return nullptr;
  if (pthread_mutex_init(&thread->mutex, nullptr) != 0) {
    delete thread;
    return nullptr;
  }
  if (pthread_cond_init(&thread->changed, nullptr) != 0) {
    pthread_mutex_destroy(&thread->mutex);
    delete thread;
    return nullptr;
  }
  thread->proc = proc;
  thread->arg = arg;
  thread->joined = false;
  thread->ended = false;
  thread->holders = 2;
  return thread;
}

void DeleteThread(Thread* thread) {
  pthread_cond_destroy(&thread->changed);
  pthread_mutex_destroy(&thread->mutex);
  delete thread;
}

// One holder lets go, after marking the end when it is the thread.
void LetGo(Thread* thread, bool threadEnded) {
  pthread_mutex_lock(&thread->mutex);
  if (threadEnded) {
    thread->ended = true;
    pthread_cond_broadcast(&thread->changed);
  }
  const bool last = --thread->holders == 0;
  pthread_mutex_unlock(&thread->mutex);
  if (last) DeleteThread(thread);
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

// Adapts the routine's signature to pthreads'.
void* RunThread(void* block) {
  auto* thread = static_cast<Thread*>(block);
  BlockFileSizeSignal();
  thread->proc(thread->arg);
  LetGo(thread, true);
  return nullptr;
}

Thread* StartThread(ThreadProc proc, void* arg, size_t stackSize) {
  if (ShouldFail(Fault::kThreadCreation)) return nullptr;
  Thread* thread = NewThread(proc, arg);
  if (thread == nullptr) return nullptr;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    DeleteThread(thread);
    return nullptr;
  }
  // Below the system's minimum the request would fail; take the minimum.
  const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  pthread_attr_setstacksize(&attr, stackSize < minimum ? minimum : stackSize);
  const int error = pthread_create(&thread->thread, &attr, RunThread, thread);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    DeleteThread(thread);
    return nullptr;
  }
  return thread;
}

// The routine's end is awaited on the monotonic clock. What is left then is
// the thread's own exit (and the destructors of any thread-local data a host
// call left on it), a matter of microseconds: joins that do not block see it
// out, yielding at first, then sleeping, up to the same deadline.
// (pthread_clockjoin_np would do both at once, but ThreadSanitizer does not
// know it as a join.)
bool WaitForThread(Thread* thread, uint32_t timeoutMs) {
  if (thread == nullptr || thread->joined) return true;
  const timespec deadline = DeadlineAfter(timeoutMs);
  pthread_mutex_lock(&thread->mutex);
  bool ended = thread->ended;
  while (!ended && WaitUntil(thread, deadline)) ended = thread->ended;
  pthread_mutex_unlock(&thread->mutex);
  for (uint32_t tries = 0; ended; ++tries) {
    const int error = pthread_tryjoin_np(thread->thread, nullptr);
    if (error == 0) {
      thread->joined = true;
      return true;
    }
    if (error != EBUSY || Passed(deadline)) break;
    if (tries < kJoinYields) {
      sched_yield();
    } else {
      SleepMs(kJoinRetryMs);
    }
  }
  return false;
}

void CloseThread(Thread* thread) {
  if (thread == nullptr) return;
  if (!thread->joined) pthread_detach(thread->thread);
  LetGo(thread, false);
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
