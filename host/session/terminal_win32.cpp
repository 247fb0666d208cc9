#include <windows.h>

#include "host/session/terminal.h"

namespace kolvane {
namespace host {
namespace {

constexpr char kCtrlC = 0x03;

std::atomic<bool>* interruptFlag = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  if (interruptFlag == nullptr) return FALSE;
  interruptFlag->store(true);
  return TRUE;  // handled: the process goes on and stops the module itself
}

}  // namespace

struct RawKeyboard::State {
  HANDLE input = INVALID_HANDLE_VALUE;
  DWORD savedMode = 0;
  bool raw = false;
};

bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void CatchInterrupts(std::atomic<bool>* flag) {
  interruptFlag = flag;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

RawKeyboard::RawKeyboard() : state_(new State) {}

RawKeyboard::~RawKeyboard() {
  if (state_->raw) SetConsoleMode(state_->input, state_->savedMode);
}

bool RawKeyboard::Open(std::string* error) {
  state_->input = GetStdHandle(STD_INPUT_HANDLE);
  if (!GetConsoleMode(state_->input, &state_->savedMode)) {
    *error = "standard input is not a console";
    return false;
  }
  // Key by key, no echo, Ctrl-C as a key.
  const DWORD raw =
      state_->savedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  if (!SetConsoleMode(state_->input, raw)) {
    *error = "cannot switch the console to raw mode";
    return false;
  }
  state_->raw = true;
  return true;
}

Keystroke RawKeyboard::Read(int timeoutMs) {
  Keystroke keystroke;
  if (WaitForSingleObject(state_->input, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return keystroke;
  INPUT_RECORD record;
  DWORD count = 0;
  if (!ReadConsoleInputA(state_->input, &record, 1, &count) || count != 1) return keystroke;
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return keystroke;
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  switch (key.wVirtualKeyCode) {
    case VK_UP: keystroke.kind = KeystrokeKind::kUp; return keystroke;
    case VK_DOWN: keystroke.kind = KeystrokeKind::kDown; return keystroke;
    case VK_LEFT: keystroke.kind = KeystrokeKind::kLeft; return keystroke;
    case VK_RIGHT: keystroke.kind = KeystrokeKind::kRight; return keystroke;
    case VK_RETURN: keystroke.kind = KeystrokeKind::kEnter; return keystroke;
    case VK_ESCAPE: keystroke.kind = KeystrokeKind::kEscape; return keystroke;
    default: break;
  }
  const char character = key.uChar.AsciiChar;
  if (character == kCtrlC) {
    keystroke.kind = KeystrokeKind::kQuit;
  } else if (character != 0) {
    keystroke.kind = KeystrokeKind::kChar;
    keystroke.character = character;
  }
  return keystroke;
}

}  // namespace host
}  // namespace kolvane
