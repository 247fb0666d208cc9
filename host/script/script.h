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
// DURATION is a number with a unit: 300ms, 1.2s, 2min, 1h. A script with any error is
// rejected whole, every error reported as "file:line: message".
#ifndef KOLVANE_HOST_SCRIPT_H
#define KOLVANE_HOST_SCRIPT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "kolvane/simcard.h"
#include "trace/format.h"

namespace kolvane {
namespace host {

// Timing of the simulated remote, in milliseconds, the same as the public
// simulated card's (kolvane/simcard.h). A 20 ms poll needs a byte to stay
// for a few periods to be sure to see it.
constexpr uint32_t kPressShowMs = KOLVANE_PRESS_SHOW_MS;      // the code of a press before release (or the held state)
constexpr uint32_t kReleaseIdleMs = KOLVANE_RELEASE_IDLE_MS;  // idle after every press and hold
constexpr uint32_t kMinVisibleMs = KOLVANE_MIN_SHOW_MS;       // shortest press or held state
constexpr uint32_t kMinHoldMs = kPressShowMs + kMinVisibleMs;
// The longest step is the trace format's, kScriptMaxDurationMs.

// A script is read by people and made by the module, whose lines are short:
// a longer line is refused before the rest is read.
constexpr size_t kMaxLineBytes = 1024;
// A file of nothing but bad lines is reported this far, then given up.
constexpr size_t kMaxReportedErrors = 50;

enum class StepKind { kPress, kHold, kWait, kRaw };

struct Step {
  StepKind kind;
  int line;              // 1-based line in the script
  uint8_t keyCode;       // press, hold: the key's code
  uint8_t receiverByte;  // raw: the byte the receiver shows; wait: idle
  uint32_t durationMs;   // press: the code's time; hold: button down; wait, raw: the time
  std::string text;      // the step as the output shows it, e.g. "press ChannelUp"
};

struct Script {
  std::string fileName;
  std::vector<Step> steps;
  // Its first line is a trace's header: the first byte was on the receiver
  // before the module's first poll, and the replay shows it there too.
  bool fromTrace = false;
};

// Parses `text`; `fileName` only names it in errors. True when there is no
// error; otherwise `errors` holds one "file:line: message" per bad line (at
// most kMaxReportedErrors, then one saying it stopped). Words a message
// echoes are made printable and shortened. A UTF-8 byte-order mark at the
// start is skipped.
bool ParseScript(const std::string& text, const std::string& fileName, Script* script,
                 std::vector<std::string>* errors);

// Reads a whole script file ("-" reads standard input) into `text`, and its
// name for messages into `fileName`. False with `error` (the reason) for a
// file that cannot be read, a directory, or a line longer than
// kMaxLineBytes, which stops the reading there.
bool ReadScriptText(const std::string& path, std::string* text, std::string* fileName, std::string* error);

struct DurationUnit {
  const char* name;
  uint32_t milliseconds;
};
// The units a duration may have, in any case.
constexpr DurationUnit kDurationUnits[] = {{"ms", 1}, {"s", 1000}, {"min", 60 * 1000}, {"h", 3600 * 1000}};

enum class DurationRead { kOk, kMalformed, kZero, kUnderOneMs, kTooLong };
// "300ms", "1.2s", "2min", "1h" -> milliseconds, rounded; kOk only for
// 1ms to an hour.
DurationRead ReadDuration(const std::string& text, uint32_t* milliseconds);
// The same, true for kOk.
bool ParseDuration(const std::string& text, uint32_t* milliseconds);
std::string FormatDuration(uint32_t milliseconds);

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_SCRIPT_H
