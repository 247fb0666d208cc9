// The COM and thread work of a remote module: reference counting,
// QueryInterface, Start/Stop and the poll thread. A device-specific class
// derives from it and implements Run, the body of the poll thread.
#ifndef KOLVANE_MODULE_REMOTE_MODULE_BASE_H
#define KOLVANE_MODULE_REMOTE_MODULE_BASE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <new>

#include "kolvane/kolvane.h"
#include "module/poll_gate.h"
#include "module/poll_trace.h"
#include "platform/platform.h"

namespace kolvane {

constexpr size_t kPollStackSize = KOLVANE_POLL_STACK_SIZE;
constexpr uint32_t kStopWaitMs = 5000;

class RemoteModuleBase : public IRemoteModule {
 public:
  RemoteModuleBase();
  RemoteModuleBase(const RemoteModuleBase&) = delete;
  RemoteModuleBase& operator=(const RemoteModuleBase&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IRemoteModule
  HRESULT STDMETHODCALLTYPE Start(IRemoteKeySink* sink, IUnknown* host) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Reserved() override;

  // The module's own allocator, so allocation failure returns null without
  // exceptions and the DLL needs no C++ runtime.
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* memory) noexcept;

 protected:
  virtual ~RemoteModuleBase();
  // The poll thread's body; its result is ignored.
  virtual HRESULT Run() = 0;

  // What the poll thread works with, copied by Start before the thread
  // exists and never written while it lives, so Stop can clear the fields
  // below at any time without racing the thread.
  struct PollBinding {
    platform::Event* stopEvent;
    IUnknown* host;
    IRemoteKeySink* sink;
    PollTraceFile trace{nullptr, false, {}};  // the thread's own: it writes and closes it
    // The thread's reference on the module's own code, given back as its
    // last act; read at its start, since the object may be gone by its end.
    platform::ModuleImage* image = nullptr;
  };
  const PollBinding& binding() const { return binding_; }

  // Poll thread: every use of the binding's objects and event happens
  // between EnterPoll() and LeavePoll(). Both return false once Stop has
  // given the thread up; the thread must then touch none of them again.
  bool EnterPoll() { return gate_.Enter(); }
  bool LeavePoll();

 private:
  static uint32_t KOLVANE_THREAD_CALL PollThreadProc(void* object);

  platform::Thread* threadHandle_;
  int32_t refCount_;
  platform::Event* stopEvent_;
  IUnknown* host_;        // non-null while started; holds one reference
  IRemoteKeySink* sink_;  // holds one reference while set
  // Written by the poll thread itself, so Stop can tell it is being called
  // from inside a host call on that thread; 0 until the thread runs.
  std::atomic<platform::ThreadId> pollThreadId_;
  PollBinding binding_;
  PollGate gate_;
};

}  // namespace kolvane

#endif  // KOLVANE_MODULE_REMOTE_MODULE_BASE_H
