#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "host/session/terminal.h"

namespace kolvane {
namespace host {
namespace {

constexpr char kEscape = 0x1B;
constexpr char kCtrlC = 0x03;
constexpr char kCtrlD = 0x04;
// The rest of an escape sequence follows at once; a lone Esc does not.
constexpr int kEscapeSequenceMs = 30;

std::atomic<bool>* interruptFlag = nullptr;
// The terminal mode to restore from a signal handler; tcsetattr is
// async-signal-safe.
struct termios savedMode;
volatile sig_atomic_t modeSaved = 0;

void OnInterrupt(int) {
  if (interruptFlag != nullptr) interruptFlag->store(true);
}

void OnFatalSignal(int signal) {
  if (modeSaved) tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

bool ReadByte(int timeoutMs, char* byte) {
  struct pollfd input = {STDIN_FILENO, POLLIN, 0};
  if (poll(&input, 1, timeoutMs) <= 0) return false;
  return read(STDIN_FILENO, byte, 1) == 1;
}

}  // namespace

struct RawKeyboard::State {
  bool raw = false;
};

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void CatchInterrupts(std::atomic<bool>* flag) {
  interruptFlag = flag;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked poll() returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

RawKeyboard::RawKeyboard() : state_(new State) {}

RawKeyboard::~RawKeyboard() {
  if (!state_->raw) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
  modeSaved = 0;
}

bool RawKeyboard::Open(std::string* error) {
  if (tcgetattr(STDIN_FILENO, &savedMode) != 0) {
    *error = "standard input is not a terminal";
    return false;
  }
  modeSaved = 1;
  for (const int signal : {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE}) ::signal(signal, OnFatalSignal);
  struct termios raw = savedMode;
  // Key by key, no echo, Ctrl-C as a key; output processing stays on.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
    *error = "cannot switch the terminal to raw mode";
    modeSaved = 0;
    return false;
  }
  state_->raw = true;
  return true;
}

Keystroke RawKeyboard::Read(int timeoutMs) {
  Keystroke keystroke;
  char byte = 0;
  if (!ReadByte(timeoutMs, &byte)) return keystroke;
  if (byte == kCtrlC || byte == kCtrlD) {
    keystroke.kind = KeystrokeKind::kQuit;
  } else if (byte == '\r' || byte == '\n') {
    keystroke.kind = KeystrokeKind::kEnter;
  } else if (byte == kEscape) {
    keystroke.kind = KeystrokeKind::kEscape;
    char next = 0;
    char final = 0;
    // Arrows: ESC [ A-D, or ESC O A-D in application mode.
    if (ReadByte(kEscapeSequenceMs, &next) && (next == '[' || next == 'O') && ReadByte(kEscapeSequenceMs, &final)) {
      switch (final) {
        case 'A': keystroke.kind = KeystrokeKind::kUp; break;
        case 'B': keystroke.kind = KeystrokeKind::kDown; break;
        case 'C': keystroke.kind = KeystrokeKind::kRight; break;
        case 'D': keystroke.kind = KeystrokeKind::kLeft; break;
        default: keystroke.kind = KeystrokeKind::kNone; break;  // another special key
      }
    }
  } else {
    keystroke.kind = KeystrokeKind::kChar;
    keystroke.character = byte;
  }
  return keystroke;
}

}  // namespace host
}  // namespace kolvane
