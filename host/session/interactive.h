// Interactive sessions: keys of the keyboard are buttons of the remote.
// A terminal sends no key releases, only the key again while it is held
// (auto-repeat), so a button stays down until its key has not come for
// kReleaseAfterMs. The first repeat of a key comes after the keyboard's
// repeat delay (often 250-600 ms), so a held key first shows as two presses.
#ifndef KOLVANE_HOST_INTERACTIVE_H
#define KOLVANE_HOST_INTERACTIVE_H

#include <stdint.h>

#include <atomic>
#include <string>

#include "host/session/session.h"
#include "host/session/terminal.h"
#include "receiver/remote_keys.h"

namespace kolvane {
namespace host {

constexpr int64_t kReleaseAfterMs = 150;

// The button a key of the keyboard stands for, or null.
const RemoteKey* ButtonForKeystroke(const Keystroke& keystroke);
// The keyboard map, for the screen.
const char* KeyboardLegend();

// One button at a time, driven by typed keys on the caller's clock.
class KeyboardRemote {
 public:
  // The key for `button` came at `nowMs`: a new press, or, for the button
  // already down, auto-repeat: the button is held.
  void Typed(const RemoteKey& button, int64_t nowMs);
  // Releases the button once its key has stopped coming.
  void Tick(int64_t nowMs);
  // What the receiver shows: idle, the code, or the held state.
  uint8_t ReceiverByte() const;
  const RemoteKey* button() const { return button_; }
  bool held() const { return held_; }

 private:
  const RemoteKey* button_ = nullptr;  // null: no button down
  bool held_ = false;
  int64_t lastTypedMs_ = 0;
};

// Runs until q, Ctrl-C or `interrupted`.
void RunInteractive(Session& session, RawKeyboard& keyboard, const std::atomic<bool>& interrupted);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_INTERACTIVE_H
