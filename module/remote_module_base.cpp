#include "module/remote_module_base.h"

#include <stdlib.h>

#include "platform/fault_injection.h"

namespace kolvane {

RemoteModuleBase::RemoteModuleBase()
    : threadHandle_(nullptr),
      refCount_(1),
      stopEvent_(nullptr),
      host_(nullptr),
      sink_(nullptr),
      pollThreadId_{0},
      binding_{nullptr, nullptr, nullptr} {}

RemoteModuleBase::~RemoteModuleBase() { RemoteModuleBase::Stop(); }

void* RemoteModuleBase::operator new(size_t size, const std::nothrow_t&) noexcept {
  if (platform::ShouldFail(platform::Fault::kAllocation)) return nullptr;
  return malloc(size);
}

void RemoteModuleBase::operator delete(void* memory) noexcept { free(memory); }

HRESULT STDMETHODCALLTYPE RemoteModuleBase::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IRemoteModule)) {
    *object = static_cast<IRemoteModule*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// A plain counter: the host calls the object from one thread at a time.
// That may be the poll thread itself (an AddRef or the last Release from
// inside OnKey), but never at once with another of the host's threads.
ULONG STDMETHODCALLTYPE RemoteModuleBase::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG STDMETHODCALLTYPE RemoteModuleBase::Release() {
  const int32_t count = --refCount_;
  if (count != 0) return static_cast<ULONG>(count);
  // Stop first, so that a poll thread Stop could not wait for (a blocked
  // host call, or this very thread inside OnKey) is known before the memory
  // goes; such a thread deletes the object itself when it ends.
  RemoteModuleBase::Stop();
  if (!gate_.Orphan()) delete this;
  return 0;
}

HRESULT STDMETHODCALLTYPE RemoteModuleBase::Start(IRemoteKeySink* newSink, IUnknown* newHost) {
  // Running, or a previous thread that Stop had to give up has not ended.
  if (host_ != nullptr || gate_.IsLive()) return E_UNEXPECTED;
  if (newHost == nullptr) return E_UNEXPECTED;
  host_ = newHost;
  host_->AddRef();
  sink_ = newSink;
  if (sink_ != nullptr) sink_->AddRef();
  // From here on failures keep both references; Stop gives them back.
  stopEvent_ = platform::CreateManualResetEvent();
  if (stopEvent_ == nullptr) return E_UNEXPECTED;  // no poll without a stop signal
  binding_ = PollBinding{stopEvent_, host_, sink_};
  // The host may unload the module while the thread still runs its code.
  binding_.image = platform::HoldModuleImage();
  if (binding_.image == nullptr) return E_UNEXPECTED;
  OpenPollTrace(&binding_.trace);
  pollThreadId_.store(0, std::memory_order_relaxed);
  gate_.Arm();
  threadHandle_ = platform::StartThread(&PollThreadProc, this, kPollStackSize);
  if (threadHandle_ == nullptr) {
    gate_.Disarm();
    platform::ReleaseModuleImage(binding_.image);
    ClosePollTrace(&binding_.trace);
    return E_UNEXPECTED;
  }
  if (gate_.Publish()) {
    // Already stopped from inside the host's QueryInterface on the new thread.
    platform::CloseThread(threadHandle_);
    threadHandle_ = nullptr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RemoteModuleBase::Stop() {
  if (host_ != nullptr) {
    platform::SignalEvent(stopEvent_);
    // From inside a host call on the poll thread, waiting would wait for
    // ourselves.
    const bool onPollThread = pollThreadId_.load(std::memory_order_relaxed) == platform::CurrentThreadId();
    const bool ended = !onPollThread && platform::WaitForThread(threadHandle_, kStopWaitMs);
    // The host may unload the module once Stop returns, while a thread given
    // up may still return into its code.
    if (!ended) platform::PinModuleImage();
    // Ended or not, the thread is given up now; see PollGate.
    const PollGate::Abandoned abandoned = gate_.Abandon();
    if (!onPollThread || abandoned.handlePublished) {
      platform::CloseThread(threadHandle_);
      threadHandle_ = nullptr;
    }
    if (!abandoned.threadClosesEvent) platform::CloseEvent(stopEvent_);
    stopEvent_ = nullptr;
    host_->Release();
    host_ = nullptr;
  }
  if (sink_ != nullptr) {
    sink_->Release();
    sink_ = nullptr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RemoteModuleBase::Reserved() { return S_OK; }

bool RemoteModuleBase::LeavePoll() {
  if (gate_.Leave()) return true;
  platform::CloseEvent(binding_.stopEvent);
  return false;
}

uint32_t KOLVANE_THREAD_CALL RemoteModuleBase::PollThreadProc(void* object) {
  auto* module = static_cast<RemoteModuleBase*>(object);
  platform::ModuleImage* const image = module->binding_.image;
  module->pollThreadId_.store(platform::CurrentThreadId(), std::memory_order_relaxed);
  module->Run();
  if (module->gate_.Exit()) delete module;
  // Nothing of the module may run after this: it can unmap the module.
  platform::EndThreadReleasingModuleImage(image);
  return 0;
}

}  // namespace kolvane
