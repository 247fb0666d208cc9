#include "host/script/script.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>

#include "host/script/key_names.h"
#include "receiver/device.h"
#include "text/printable.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace {

const char kStepNames[] = "press, hold, wait, raw";
constexpr size_t kByteOrderMarkLength = sizeof kUtf8ByteOrderMark - 1;
constexpr size_t kReadChunk = size_t{64} * 1024;

std::string LineTooLong() { return "line longer than " + std::to_string(kMaxLineBytes) + " bytes"; }

std::vector<std::string> Words(const std::string& line) {
  std::istringstream stream(line.substr(0, line.find('#')));
  return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

bool ParseByte(const std::string& text, uint8_t* byte) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t first = hex ? 2 : 0;
  if (text.size() == first || text.size() - first > 4) return false;
  unsigned value = 0;
  for (size_t i = first; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'F' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    value = value * (hex ? 16 : 10) + digit;
  }
  if (value > kReceiverByteMask) return false;
  *byte = static_cast<uint8_t>(value);
  return true;
}

// One line's parser; `error` is set on failure.
class LineParser {
 public:
  LineParser(const std::vector<std::string>& words, int line) : words_(words), line_(line) {}

  bool Parse(Step* step, std::string* error) {
    error_ = error;
    const std::string command = Lower(words_[0]);
    step->line = line_;
    if (command == "press") return ParsePress(step);
    if (command == "hold") return ParseHold(step);
    if (command == "wait") return ParseWait(step);
    if (command == kTraceByteWord) return ParseRaw(step);
    return Fail("unknown step '" + Printable(words_[0]) + "' (steps are " + kStepNames + ")");
  }

 private:
  bool Fail(const std::string& message) {
    *error_ = message;
    return false;
  }

  bool ArgumentCount(size_t least, size_t most, const char* usage) {
    const size_t count = words_.size() - 1;
    if (count >= least && count <= most) return true;
    return Fail(std::string("expected '") + usage + "'");
  }

  bool Key(const std::string& text, const RemoteKey** key) {
    *key = FindKeyBySpelling(text);
    if (*key != nullptr) return true;
    const std::string nearest = NearestKeySpelling(text);
    if (nearest.empty()) return Fail("unknown key '" + Printable(text) + "'");
    return Fail("unknown key '" + Printable(text) + "' (did you mean " + nearest + "?)");
  }

  bool Duration(const std::string& text, uint32_t least, const std::string& why, uint32_t* milliseconds) {
    switch (ReadDuration(text, milliseconds)) {
      case DurationRead::kOk: break;
      case DurationRead::kMalformed:
        return Fail("bad duration '" + Printable(text) +
                    "' (a number and a unit: ms, s, min or h, e.g. 300ms or 1.2s)");
      case DurationRead::kZero: return Fail("duration '" + Printable(text) + "' is zero: a step lasts at least 1ms");
      case DurationRead::kUnderOneMs:
        return Fail("duration '" + Printable(text) + "' is under 1ms: a step lasts at least 1ms");
      case DurationRead::kTooLong:
        return Fail("duration '" + Printable(text) + "' too long: a step lasts at most " +
                    FormatDuration(kScriptMaxDurationMs));
    }
    if (*milliseconds < least) return Fail("duration '" + Printable(text) + "' too short: " + why);
    return true;
  }

  bool ParsePress(Step* step) {
    const RemoteKey* key = nullptr;
    step->kind = StepKind::kPress;
    step->durationMs = kPressShowMs;
    if (!ArgumentCount(1, 2, "press KEY [DURATION]") || !Key(words_[1], &key)) return false;
    if (words_.size() == 3 && !Duration(words_[2], kMinVisibleMs,
                                        "a press lasts at least " + FormatDuration(kMinVisibleMs) + " so a " +
                                            std::to_string(kPollPeriodMs) + " ms poll sees it",
                                        &step->durationMs)) {
      return false;
    }
    step->keyCode = static_cast<uint8_t>(key->code);
    step->text = "press " + KeyDisplayName(*key);
    if (words_.size() == 3) step->text += " " + FormatDuration(step->durationMs);
    return true;
  }

  bool ParseHold(Step* step) {
    const RemoteKey* key = nullptr;
    step->kind = StepKind::kHold;
    if (!ArgumentCount(2, 2, "hold KEY DURATION") || !Key(words_[1], &key) ||
        !Duration(words_[2], kMinHoldMs,
                  "a hold lasts at least " + FormatDuration(kMinHoldMs) + " (" + FormatDuration(kPressShowMs) +
                      " pressed, then held)",
                  &step->durationMs)) {
      return false;
    }
    step->keyCode = static_cast<uint8_t>(key->code);
    step->text = "hold " + KeyDisplayName(*key) + " " + FormatDuration(step->durationMs);
    return true;
  }

  bool ParseWait(Step* step) {
    step->kind = StepKind::kWait;
    step->receiverByte = kIdleReceiverByte;
    if (!ArgumentCount(1, 1, "wait DURATION") || !Duration(words_[1], 1, "", &step->durationMs)) return false;
    step->text = "wait " + FormatDuration(step->durationMs);
    return true;
  }

  bool ParseRaw(Step* step) {
    step->kind = StepKind::kRaw;
    if (!ArgumentCount(2, 2, "raw BYTE DURATION")) return false;
    if (!ParseByte(words_[1], &step->receiverByte)) {
      return Fail("bad byte '" + Printable(words_[1]) + "' (0x00 to 0xFF, or 0 to 255)");
    }
    if (!Duration(words_[2], 1, "", &step->durationMs)) return false;
    char byte[8];
    snprintf(byte, sizeof byte, "0x%02X", step->receiverByte);
    step->text = std::string("raw ") + byte + " " + FormatDuration(step->durationMs);
    return true;
  }

  const std::vector<std::string>& words_;
  const int line_;
  std::string* error_ = nullptr;
};

}  // namespace

DurationRead ReadDuration(const std::string& text, uint32_t* milliseconds) {
  size_t i = 0;
  uint64_t whole = 0;
  uint64_t fraction = 0;
  uint64_t fractionScale = 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (whole <= kScriptMaxDurationMs) whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    ++i;
  }
  const size_t wholeDigits = i;
  size_t fractionDigits = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (fractionScale < 1000000) {
        fraction = fraction * 10 + static_cast<uint64_t>(text[i] - '0');
        fractionScale *= 10;
      }
      ++i;
      ++fractionDigits;
    }
  }
  if (wholeDigits + fractionDigits == 0) return DurationRead::kMalformed;
  const std::string unit = Lower(text.substr(i));
  uint64_t scale = 0;
  for (const DurationUnit& known : kDurationUnits) {
    if (unit == known.name) scale = known.milliseconds;
  }
  if (scale == 0) return DurationRead::kMalformed;
  if (whole > kScriptMaxDurationMs) return DurationRead::kTooLong;
  const uint64_t value = whole * scale + (fraction * scale + fractionScale / 2) / fractionScale;
  if (whole == 0 && fraction == 0) return DurationRead::kZero;
  if (value == 0) return DurationRead::kUnderOneMs;
  if (value > kScriptMaxDurationMs) return DurationRead::kTooLong;
  *milliseconds = static_cast<uint32_t>(value);
  return DurationRead::kOk;
}

bool ParseDuration(const std::string& text, uint32_t* milliseconds) {
  return ReadDuration(text, milliseconds) == DurationRead::kOk;
}

std::string FormatDuration(uint32_t milliseconds) {
  // Whole hours and minutes in those units, the largest first.
  for (size_t i = std::size(kDurationUnits); i-- > 0;) {
    const DurationUnit& unit = kDurationUnits[i];
    if (unit.milliseconds > 1000 && milliseconds % unit.milliseconds == 0) {
      return std::to_string(milliseconds / unit.milliseconds) + unit.name;
    }
  }
  if (milliseconds < 1000 || milliseconds % 100 != 0) return std::to_string(milliseconds) + "ms";
  std::string text = std::to_string(milliseconds / 1000);
  if (milliseconds % 1000 != 0) text += "." + std::to_string(milliseconds % 1000 / 100);
  return text + "s";
}

bool ParseScript(const std::string& text, const std::string& fileName, Script* script,
                 std::vector<std::string>* errors) {
  script->fileName = fileName;
  script->steps.clear();
  script->fromTrace = false;
  errors->clear();
  const std::string where = Printable(fileName, kMaxPathEchoBytes) + ":";
  size_t begin = text.compare(0, kByteOrderMarkLength, kUtf8ByteOrderMark) == 0 ? kByteOrderMarkLength : 0;
  int number = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    ++number;
    if (number == 1) script->fromTrace = IsTraceHeader(text.substr(begin, std::min(end - begin, kMaxLineBytes)));
    std::string error;
    if (errors->size() == kMaxReportedErrors) {
      errors->push_back(
          std::string(where).append(std::to_string(number)).append(": too many errors, the rest is not checked"));
      break;
    }
    if (end - begin > kMaxLineBytes) {
      error = LineTooLong();
    } else {
      const std::vector<std::string> words = Words(text.substr(begin, end - begin));
      Step step{};
      if (!words.empty() && LineParser(words, number).Parse(&step, &error)) script->steps.push_back(step);
    }
    if (!error.empty()) errors->push_back(std::string(where).append(std::to_string(number)).append(": ").append(error));
    begin = end + 1;
  }
  if (!errors->empty()) script->steps.clear();
  return errors->empty();
}

bool ReadScriptText(const std::string& path, std::string* text, std::string* fileName, std::string* error) {
  const bool standardInput = path == "-";
  *fileName = standardInput ? "<stdin>" : path;
  text->clear();
  const std::string cannot = "cannot read script " + Printable(*fileName, kMaxPathEchoBytes) + ": ";
  std::error_code ignored;
  if (!standardInput && std::filesystem::is_directory(path, ignored)) {
    *error = cannot + "it is a directory";
    return false;
  }
  FILE* file = standardInput ? stdin : fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = cannot + strerror(errno);
    return false;
  }
  // Read in chunks, counting the line under way, so an endless line is
  // refused after kMaxLineBytes rather than held whole.
  std::vector<char> chunk(kReadChunk);
  size_t lineLength = 0;
  int line = 1;
  bool ok = true;
  for (;;) {
    const size_t count = fread(chunk.data(), 1, chunk.size(), file);
    for (size_t i = 0; i < count && ok; ++i) {
      if (chunk[i] == '\n') {
        ++line;
        lineLength = 0;
      } else if (++lineLength > kMaxLineBytes) {
        *error = Printable(*fileName, kMaxPathEchoBytes) + ":" + std::to_string(line) + ": " + LineTooLong();
        ok = false;
      }
    }
    if (!ok) break;
    text->append(chunk.data(), count);
    if (count < chunk.size()) {
      if (ferror(file) != 0) {
        *error = cannot + strerror(errno);
        ok = false;
      }
      break;
    }
  }
  if (!standardInput) fclose(file);
  if (!ok) text->clear();
  return ok;
}

}  // namespace host
}  // namespace kolvane
