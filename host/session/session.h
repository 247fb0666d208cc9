// One run of the module on the simulated card: creates the module
// object through its factory, starts it with a key sink and the device,
// records every change of the receiver byte, every poll and every OnKey, and
// hands each report to the output's own thread as it comes. OnKey only
// records and returns, as every host should: the poll thread never waits
// for the output. The driver (a script or the keyboard) changes the
// receiver byte from its own thread.
#ifndef KOLVANE_HOST_SESSION_H
#define KOLVANE_HOST_SESSION_H

#include <stdint.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "host/report/session_output.h"
#include "host/report/session_record.h"
#include "host/session/output_queue.h"
#include "kolvane/kolvane.h"
#include "receiver/device.h"
#include "testbed/counted_object.h"
#include "testbed/sim_card.h"

namespace kolvane {
namespace host {

class Session {
 public:
  // `output` must outlive the session; it is written from the session's
  // writer thread between Start and Stop, and not at all after Stop.
  Session(GetInterfacePtrFn factory, SessionOutput* output, size_t outputCapacity = kOutputQueueCapacity);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // Starts the module with `startByte` on the receiver and waits until it
  // has polled it once. From the idle receiver, the driver's first key
  // counts. False with `error` on failure.
  bool Start(std::string* error, uint8_t startByte = kIdleReceiverByte);
  // Puts a byte on the receiver; a change to a byte with the held bit clear is a
  // button press.
  void ShowByte(uint8_t byte);
  // Waits until a poll has read the byte shown last. False when
  // `interrupted` was set first; true also when the module stopped polling
  // (after kPollPatience), so a stalled module cannot hang the driver.
  bool WaitUntilPolled(const std::atomic<bool>& interrupted);
  // A line of the story: a step of the script or a keyboard button.
  void Narrate(const std::string& text);
  // Stops and releases the module, then writes what the output has still
  // queued. False with `error` when the module misbehaved on the way out (a
  // failed Stop, references kept).
  bool Stop(std::string* error);

  int64_t NowUs() const;
  SessionRecord record() const;

  // OnKey holds the poll thread this long after recording each key, as a
  // host that does its work inside OnKey (--slow-sink). Set before Start.
  void SetSinkDelay(uint32_t ms) { sinkDelayMs_ = ms; }

 private:
  class KeySink final : public testbed::CountedObject<IRemoteKeySink> {
   public:
    explicit KeySink(Session* session) : CountedObject(nullptr), session_(session) {}
    HRESULT STDMETHODCALLTYPE OnKey(const char* name, const char* label) override;

   private:
    Session* const session_;
  };

  void OnAccess(const testbed::RegisterAccess& access);
  void OnKey(const char* name, const char* label);

  void AwaitHeldReferences();

  GetInterfacePtrFn const factory_;
  uint32_t sinkDelayMs_ = 0;
  OutputQueue output_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  testbed::SimCard device_;
  KeySink sink_{this};
  IRemoteModule* module_ = nullptr;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable polled_;
  SessionRecord record_;
  bool setupDone_ = false;
  uint8_t shownByte_ = kIdleReceiverByte;
  bool shownPolled_ = false;  // a poll has read shownByte_ since it was shown
  int64_t shownSinceUs_ = 0;
  int64_t previousShownSinceUs_ = 0;
  uint8_t lastPolledByte_ = kIdleReceiverByte;
  int64_t lastPolledSinceUs_ = 0;  // when the byte the latest poll read went on the receiver
};

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SESSION_H
