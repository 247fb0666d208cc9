#include "module/remote_module_base.h"

#include <stdlib.h>
#include <string.h>

#include "platform/fault_injection.h"

namespace kolvane {
namespace {

bool SameIid(REFIID a, const IID& b) { return memcmp(&a, &b, sizeof(IID)) == 0; }

}  // namespace

RemoteModuleBase::RemoteModuleBase(const RemoteKey* table, int32_t tableSize)
    : threadHandle(nullptr),
      refCount(1),
      stopEvent(nullptr),
      host(nullptr),
      sink(nullptr),
      keys(table),
      keyCount(tableSize),
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
  if (SameIid(iid, IID_IUnknown) || SameIid(iid, IID_IRemoteModule)) {
    *object = static_cast<IRemoteModule*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// A plain counter: the host calls from one thread at a time, and the poll
// thread never touches it.
ULONG STDMETHODCALLTYPE RemoteModuleBase::AddRef() { return static_cast<ULONG>(++refCount); }

ULONG STDMETHODCALLTYPE RemoteModuleBase::Release() {
  const int32_t count = --refCount;
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
  if (host != nullptr || gate_.IsLive()) return E_UNEXPECTED;
  if (newHost == nullptr) return E_UNEXPECTED;
  host = newHost;
  host->AddRef();
  sink = newSink;
  if (sink != nullptr) sink->AddRef();
  // From here on failures keep both references; Stop gives them back.
  stopEvent = platform::CreateManualResetEvent();
  if (stopEvent == nullptr) return E_UNEXPECTED;  // no poll without a stop signal
  binding_ = PollBinding{stopEvent, host, sink};
  pollThreadId_.store(0, std::memory_order_relaxed);
  gate_.Arm();
  threadHandle = platform::StartThread(&PollThreadProc, this, kPollStackSize);
  if (threadHandle == nullptr) {
    gate_.Disarm();
    return E_UNEXPECTED;
  }
  if (gate_.Publish()) {
    // Already stopped from inside the host's QueryInterface on the new thread.
    platform::CloseThread(threadHandle);
    threadHandle = nullptr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RemoteModuleBase::Stop() {
  if (host != nullptr) {
    platform::SignalEvent(stopEvent);
    // From inside a host call on the poll thread, waiting would wait for
    // ourselves.
    const bool onPollThread = pollThreadId_.load(std::memory_order_relaxed) == platform::CurrentThreadId();
    if (!onPollThread) platform::WaitForThread(threadHandle, kStopWaitMs);
    // Ended or not, the thread is given up now; see PollGate.
    const PollGate::Abandoned abandoned = gate_.Abandon();
    if (!onPollThread || abandoned.handlePublished) {
      platform::CloseThread(threadHandle);
      threadHandle = nullptr;
    }
    if (!abandoned.threadClosesEvent) platform::CloseEvent(stopEvent);
    stopEvent = nullptr;
    host->Release();
    host = nullptr;
  }
  if (sink != nullptr) {
    sink->Release();
    sink = nullptr;
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
  module->pollThreadId_.store(platform::CurrentThreadId(), std::memory_order_relaxed);
  module->Run();
  if (module->gate_.Exit()) delete module;
  return 0;
}

}  // namespace kolvane
