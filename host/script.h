// Scripted sessions: one step a line, '#' starts a comment.
//
//   press KEY [DURATION]   the key's code on the receiver (default 100ms),
//                          then idle for 100ms
//   hold KEY DURATION      the button down for DURATION: the code for the
//                          first 100ms, then the held state (code | 1);
//                          then idle for 100ms
//   wait DURATION          the receiver idle (0xFF)
//   raw BYTE DURATION      any receiver byte (0x00-0xFF or decimal) as is
//
// KEY is a key's name, its name without "Kolvane_" or its label, in any case.
// DURATION is a number with a unit: 300ms, 1.2s. A script with any error is
// rejected whole, every error reported as "file:line: message".
#ifndef KOLVANE_HOST_SCRIPT_H
#define KOLVANE_HOST_SCRIPT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "kolvane/simcard.h"

namespace kolvane {
namespace host {

// Timing of the simulated remote, in milliseconds, the same as the public
// simulated card's (kolvane/simcard.h). A 20 ms poll needs a byte to stay
// for a few periods to be sure to see it.
constexpr uint32_t kPressShowMs = KOLVANE_PRESS_SHOW_MS;      // the code of a press before release (or the held state)
constexpr uint32_t kReleaseIdleMs = KOLVANE_RELEASE_IDLE_MS;  // idle after every press and hold
constexpr uint32_t kMinVisibleMs = KOLVANE_MIN_SHOW_MS;       // shortest press or held state
constexpr uint32_t kMinHoldMs = kPressShowMs + kMinVisibleMs;
constexpr uint32_t kMaxDurationMs = 3600 * 1000;

enum class StepKind { kPress, kHold, kWait, kRaw };

struct Step {
  StepKind kind;
  int line;             // 1-based line in the script
  uint8_t byte;         // key code (press, hold) or receiver byte (raw)
  uint32_t durationMs;  // press: the code's time; hold: button down; wait, raw: the time
  std::string text;     // the step as the output shows it, e.g. "press ChannelUp"
};

struct Script {
  std::string fileName;
  std::vector<Step> steps;
};

// Parses `text`; `fileName` only names it in errors. True when there is no
// error; otherwise `errors` holds one "file:line: message" per bad line.
bool ParseScript(const std::string& text, const std::string& fileName, Script* script,
                 std::vector<std::string>* errors);

// Reads and parses the file ("-" reads standard input).
bool LoadScript(const std::string& path, Script* script, std::vector<std::string>* errors);

// "300ms", "1.2s" -> milliseconds. False on anything else, on zero and on
// more than an hour.
bool ParseDuration(const std::string& text, uint32_t* milliseconds);
std::string FormatDuration(uint32_t milliseconds);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SCRIPT_H
