#include "host/interactive.h"

#include <stdio.h>

#include "host/key_names.h"
#include "receiver/device.h"

namespace kolvane {
namespace host {
namespace {

constexpr int kReadTimeoutMs = 10;

const RemoteKey* Button(const char* spelling) { return FindKeyBySpelling(spelling); }

}  // namespace

const RemoteKey* ButtonForInput(const Input& input) {
  switch (input.kind) {
    case InputKind::kUp: return Button("ChannelUp");
    case InputKind::kDown: return Button("ChannelDown");
    case InputKind::kLeft: return Button("Left");
    case InputKind::kRight: return Button("Right");
    case InputKind::kEnter: return Button("Enter");
    case InputKind::kEscape: return Button("Exit");
    case InputKind::kChar: break;
    default: return nullptr;
  }
  const char c = input.character;
  if (c >= '0' && c <= '9') return Button(std::string(1, c).c_str());
  if (c == '+' || c == '=') return Button("VolumeUp");
  if (c == '-' || c == '_') return Button("VolumeDown");
  if (c == 'm' || c == 'M') return Button("Mute");
  return nullptr;
}

const char* KeyboardLegend() {
  return "Keys: 0-9 digits   Up/Down channel   Left/Right   +/- volume   m mute   Enter   Esc exit (Power)\n"
         "      hold a key to hold the button; q or Ctrl-C quits\n";
}

void KeyboardRemote::Typed(const RemoteKey& button, int64_t nowMs) {
  Tick(nowMs);
  if (button_ == &button) {
    held_ = true;
  } else {
    button_ = &button;
    held_ = false;
  }
  lastTypedMs_ = nowMs;
}

void KeyboardRemote::Tick(int64_t nowMs) {
  if (button_ != nullptr && nowMs - lastTypedMs_ >= kReleaseAfterMs) {
    button_ = nullptr;
    held_ = false;
  }
}

uint8_t KeyboardRemote::ReceiverByte() const {
  if (button_ == nullptr) return kIdleReceiverByte;
  const uint8_t code = static_cast<uint8_t>(button_->code);
  return held_ ? static_cast<uint8_t>(code | kHeldBit) : code;
}

void RunInteractive(Session& session, RawKeyboard& keyboard, const std::atomic<bool>& interrupted) {
  fputs(KeyboardLegend(), stderr);
  fflush(stderr);
  KeyboardRemote remote;
  while (!interrupted.load()) {
    const Input input = keyboard.Read(kReadTimeoutMs);
    if (input.kind == InputKind::kQuit ||
        (input.kind == InputKind::kChar && (input.character == 'q' || input.character == 'Q'))) {
      break;
    }
    const RemoteKey* before = remote.button();
    const bool heldBefore = remote.held();
    const int64_t nowMs = session.NowUs() / 1000;
    const RemoteKey* button = ButtonForInput(input);
    if (button != nullptr) remote.Typed(*button, nowMs);
    remote.Tick(nowMs);
    if (remote.button() != nullptr && remote.button() != before) {
      session.Narrate("press " + KeyDisplayName(*remote.button()));
    } else if (remote.held() && !heldBefore) {
      session.Narrate("hold " + KeyDisplayName(*remote.button()));
    }
    session.ShowByte(remote.ReceiverByte());
  }
  session.ShowByte(kIdleReceiverByte);
}

}  // namespace host
}  // namespace kolvane
