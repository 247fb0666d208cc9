#include "host/session/session.h"

#include <inttypes.h>
#include <stdio.h>

#include <thread>

#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"

namespace kolvane {
namespace host {
namespace {

// A busy machine or Wine may take a while to start a thread.
constexpr std::chrono::seconds kFirstPollPatience{10};
constexpr std::chrono::seconds kPollPatience{10};
// How often a wait for a poll looks at the interrupt flag.
constexpr std::chrono::milliseconds kInterruptCheck{10};

}  // namespace

HRESULT STDMETHODCALLTYPE Session::KeySink::OnKey(const char* name, const char* label) {
  session_->OnKey(name, label);
  if (session_->sinkDelayMs_ != 0) std::this_thread::sleep_for(std::chrono::milliseconds(session_->sinkDelayMs_));
  return S_OK;
}

Session::Session(GetInterfacePtrFn factory, SessionOutput* output, size_t outputCapacity)
    : factory_(factory), output_(output, outputCapacity) {
  device_.SetAccessObserver([this](const testbed::RegisterAccess& access) { OnAccess(access); });
}

Session::~Session() {
  std::string ignored;
  Stop(&ignored);
}

int64_t Session::NowUs() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_).count();
}

bool Session::Start(std::string* error, uint8_t startByte) {
  output_.Start();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device_.SetReceiverByte(startByte);
    shownByte_ = startByte;
    record_.receiver.assign(1, ByteRecord{0, startByte});
  }
  module_ = factory_();
  if (module_ == nullptr) {
    *error = "the module's factory returned no object";
    return false;
  }
  const HRESULT result = module_->Start(&sink_, device_.host());
  if (result < 0) {
    char text[64];
    snprintf(text, sizeof text, "the module refused to start (0x%08" PRIX32 ")", static_cast<uint32_t>(result));
    *error = text;
    return false;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!polled_.wait_for(lock, kFirstPollPatience, [this] { return !record_.polls.empty(); })) {
    char text[64];
    snprintf(text, sizeof text, "the module never polled the receiver (register 0x%" PRIX32 ")", kRegisterReceiver);
    *error = text;
    return false;
  }
  return true;
}

void Session::ShowByte(uint8_t byte) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (byte == shownByte_) return;
  const int64_t now = NowUs();
  device_.SetReceiverByte(byte);
  previousShownSinceUs_ = shownSinceUs_;
  shownByte_ = byte;
  shownPolled_ = false;
  shownSinceUs_ = now;
  record_.receiver.push_back(ByteRecord{now, byte});
  // A change to a byte with the held bit clear is a press: of a button when the
  // decoder finds a key for it, else of a code no key has.
  if (IsHeldByte(byte)) return;
  if (FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, byte & kPressCodeMask) != nullptr) {
    ++record_.buttonsPressed;
  } else {
    ++record_.unknownCodes;
  }
}

bool Session::WaitUntilPolled(const std::atomic<bool>& interrupted) {
  const auto giveUp = std::chrono::steady_clock::now() + kPollPatience;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!shownPolled_) {
    if (interrupted.load()) return false;
    if (std::chrono::steady_clock::now() >= giveUp) return true;
    polled_.wait_for(lock, kInterruptCheck);
  }
  return true;
}

// Queued before the driver shows the step's byte, so its line always comes
// before the keys it causes.
void Session::Narrate(const std::string& text) { output_.Action(NowUs(), text); }

bool Session::Stop(std::string* error) {
  if (module_ == nullptr) {
    output_.Close();
    return true;
  }
  bool ok = true;
  const HRESULT stopped = module_->Stop();
  const ULONG left = module_->Release();
  module_ = nullptr;
  AwaitHeldReferences();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.endUs = NowUs();
  }
  output_.Close();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.outputDropped = output_.dropped();
  }
  if (stopped < 0) {
    *error = "Stop failed";
    ok = false;
  } else if (left != 0) {
    *error = "the module object outlived its last Release (count " + std::to_string(left) + ")";
    ok = false;
  } else if (device_.outstandingReferences() != 0 || sink_.references() != 0) {
    *error = "the module kept references after Stop: device " + std::to_string(device_.outstandingReferences()) +
             ", key sink " + std::to_string(sink_.references());
    ok = false;
  }
  return ok;
}

// A slow sink may hold the poll thread past Stop's wait: Stop then gives the
// thread up, and the thread gives back its references once OnKey returns.
// The sink and the device must outlive that.
void Session::AwaitHeldReferences() {
  if (sinkDelayMs_ == 0) return;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(sinkDelayMs_) + kPollPatience;
  while ((device_.outstandingReferences() != 0 || sink_.references() != 0) &&
         std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(kInterruptCheck);
  }
}

SessionRecord Session::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

// On the poll thread: the set-up ends with the write of 0x200; every later
// read of 0x200 is a poll.
void Session::OnAccess(const testbed::RegisterAccess& access) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = NowUs();
  if (!setupDone_) {
    const RegisterRecord record{now, access};
    record_.setup.push_back(record);
    output_.Register(record);
    setupDone_ = access.write && access.offset == kRegisterReceiver;
    return;
  }
  if (access.write || access.offset != kRegisterReceiver) return;
  const uint8_t byte = static_cast<uint8_t>(access.value >> kReceiverByteShift);
  record_.polls.push_back(ByteRecord{now, byte});
  lastPolledByte_ = byte;
  if (byte == shownByte_ && !shownPolled_) {
    shownPolled_ = true;
    polled_.notify_all();
  }
  // The driver may have changed the byte between the read and this call.
  lastPolledSinceUs_ = byte == shownByte_ ? shownSinceUs_ : previousShownSinceUs_;
  if (record_.polls.size() == 1) polled_.notify_all();
}

// On the poll thread, right after the poll that led to the report: records
// it and queues its line, nothing more.
void Session::OnKey(const char* name, const char* label) {
  std::lock_guard<std::mutex> lock(mutex_);
  KeyReport report;
  report.us = NowUs();
  report.name = name != nullptr ? name : "";
  report.label = label != nullptr ? label : "";
  report.repeat = IsHeldByte(lastPolledByte_);
  report.sincePress = !report.repeat || record_.reports.empty();
  report.delayUs = report.us - (report.sincePress ? lastPolledSinceUs_ : record_.reports.back().us);
  record_.reports.push_back(report);
  output_.Key(report);
}

}  // namespace host
}  // namespace kolvane
