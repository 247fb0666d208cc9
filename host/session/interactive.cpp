#include "host/session/interactive.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "host/script/key_names.h"
#include "receiver/device.h"

namespace kolvane {
namespace host {
namespace {

constexpr int kReadTimeoutMs = 10;

// The keyboard map and its legend, one row a key (or a set of characters).
struct KeyboardKey {
  const char* legend;      // its words in the legend; "" when the row before says them
  KeystrokeKind kind;      // the key, or kChar for `characters`
  const char* characters;  // kChar: the characters that type it
  const char* button;      // the button's spelling; null: the character's own (a digit)
};

constexpr KeyboardKey kKeyboardMap[] = {
    {"0-9 digits", KeystrokeKind::kChar, "0123456789", nullptr},
    {"Up/Down channel", KeystrokeKind::kUp, "", "ChannelUp"},
    {"", KeystrokeKind::kDown, "", "ChannelDown"},
    {"Left/Right", KeystrokeKind::kLeft, "", "Left"},
    {"", KeystrokeKind::kRight, "", "Right"},
    {"+/- volume", KeystrokeKind::kChar, "+=", "VolumeUp"},
    {"", KeystrokeKind::kChar, "-_", "VolumeDown"},
    {"m mute", KeystrokeKind::kChar, "mM", "Mute"},
    {"Enter", KeystrokeKind::kEnter, "", "Enter"},
    {"Esc exit (Power)", KeystrokeKind::kEscape, "", "Exit"},
};

// The keys that end an interactive session, besides Ctrl-C (kQuit).
constexpr char kQuitCharacters[] = "qQ";
constexpr char kHoldAndQuitLegend[] = "hold a key to hold the button; q or Ctrl-C quits";

bool Types(const KeyboardKey& key, const Keystroke& keystroke) {
  if (keystroke.kind != key.kind) return false;
  return key.kind != KeystrokeKind::kChar ||
         (keystroke.character != 0 && strchr(key.characters, keystroke.character) != nullptr);
}

bool IsQuit(const Keystroke& keystroke) {
  return keystroke.kind == KeystrokeKind::kQuit ||
         (keystroke.kind == KeystrokeKind::kChar && keystroke.character != 0 &&
          strchr(kQuitCharacters, keystroke.character) != nullptr);
}

std::string BuildLegend() {
  std::string legend = "Keys:";
  for (const KeyboardKey& key : kKeyboardMap) {
    if (key.legend[0] != '\0') legend += std::string(legend.size() > 5 ? "   " : " ") + key.legend;
  }
  return legend + "\n      " + kHoldAndQuitLegend + "\n";
}

}  // namespace

const RemoteKey* ButtonForKeystroke(const Keystroke& keystroke) {
  for (const KeyboardKey& key : kKeyboardMap) {
    if (!Types(key, keystroke)) continue;
    return FindKeyBySpelling(key.button != nullptr ? key.button : std::string(1, keystroke.character).c_str());
  }
  return nullptr;
}

const char* KeyboardLegend() {
  static const std::string legend = BuildLegend();
  return legend.c_str();
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
  return held_ ? HeldByteOf(code) : code;
}

void RunInteractive(Session& session, RawKeyboard& keyboard, const std::atomic<bool>& interrupted) {
  fputs(KeyboardLegend(), stderr);
  fflush(stderr);
  KeyboardRemote remote;
  while (!interrupted.load()) {
    const Keystroke keystroke = keyboard.Read(kReadTimeoutMs);
    if (IsQuit(keystroke)) break;
    const RemoteKey* before = remote.button();
    const bool heldBefore = remote.held();
    const int64_t nowMs = session.NowUs() / 1000;
    const RemoteKey* button = ButtonForKeystroke(keystroke);
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
