// The console of kolvane-host: whether standard input is a terminal, the
// keyboard in raw mode for interactive sessions, and Ctrl-C turned into a
// flag. terminal_posix.cpp and terminal_win32.cpp implement it.
#ifndef KOLVANE_HOST_TERMINAL_H
#define KOLVANE_HOST_TERMINAL_H

#include <atomic>
#include <memory>
#include <string>

namespace kolvane {
namespace host {

enum class KeystrokeKind { kNone, kChar, kUp, kDown, kLeft, kRight, kEnter, kEscape, kQuit };

struct Keystroke {
  KeystrokeKind kind = KeystrokeKind::kNone;
  char character = 0;  // for kChar
};

bool StdinIsTerminal();

// From now on Ctrl-C and termination requests set *flag instead of ending
// the process, so the module is stopped and the terminal restored.
void CatchInterrupts(std::atomic<bool>* flag);

// The keyboard, key by key, without echo. The terminal's previous mode comes
// back when the object goes, and on a termination request.
class RawKeyboard {
 public:
  RawKeyboard();
  RawKeyboard(const RawKeyboard&) = delete;
  RawKeyboard& operator=(const RawKeyboard&) = delete;
  ~RawKeyboard();

  bool Open(std::string* error);
  // The next key typed within timeoutMs, or kNone. Ctrl-C (and Ctrl-D on
  // POSIX, end of keystroke) read as kQuit.
  Keystroke Read(int timeoutMs);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_TERMINAL_H
