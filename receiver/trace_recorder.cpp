#include "receiver/trace_recorder.h"

#include "receiver/trace_format.h"

namespace kolvane {
namespace {

constexpr uint32_t kMillisPerSecond = 1000;
// Written instead of the line that would not fit; room for it is kept.
constexpr const char kCapNote[] = "# trace stopped: the file reached its size cap of 8 MiB\n";
constexpr size_t kCapNoteLength = sizeof(kCapNote) - 1;

}  // namespace

// One line built in place; what does not fit is cut, and the line still ends
// in "\n".
class TraceRecorder::Line {
 public:
  Line& Text(const char* text) {
    while (*text != '\0' && length_ < kMaxLine - 1) text_[length_++] = *text++;
    return *this;
  }
  Line& Number(uint32_t value) {
    char digits[10];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0 && length_ < kMaxLine - 1) text_[length_++] = digits[--count];
    return *this;
  }
  // "0xNN"
  Line& Byte(uint32_t byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    const char text[] = {'0', 'x', kHex[(byte >> 4) & 0xF], kHex[byte & 0xF], '\0'};
    return Text(text);
  }
  // Milliseconds as "12.345s".
  Line& Seconds(uint32_t ms) {
    Number(ms / kMillisPerSecond).Text(".");
    const uint32_t millis = ms % kMillisPerSecond;
    if (millis < 100) Text("0");
    if (millis < 10) Text("0");
    return Number(millis).Text("s");
  }
  const char* text() {
    text_[length_] = '\n';
    return text_;
  }
  size_t length() const { return length_ + 1; }

 private:
  char text_[kMaxLine];
  size_t length_ = 0;
};

TraceRecorder::TraceRecorder(Writer writer, void* context, uint64_t capacity)
    : writer_(writer), context_(context), capacity_(capacity) {}

void TraceRecorder::Begin(uint32_t now, const char* startedAt, const char* version, const char* platform) {
  startTick_ = now;
  Emit(Line().Text("# kolvane ").Text(version).Text(" trace, ").Text(platform).Text(", started ").Text(startedAt));
  Emit(Line().Text(
      "# a kolvane-host script: replay it with 'kolvane-host FILE', check it with 'kolvane-host --compare FILE'"));
}

void TraceRecorder::OnPoll(uint32_t byte, uint32_t now) {
  if (static_cast<int32_t>(byte) == byte_) return;
  FlushByte(now, 0);
  byte_ = static_cast<int32_t>(byte);
  since_ = now;
}

void TraceRecorder::OnReport(const char* name, bool repeat, uint32_t now) {
  Emit(Line()
           .Text("# ")
           .Seconds(now - startTick_)
           .Text(" ")
           .Text(name)
           .Text(" ")
           .Text(repeat ? kTraceRepeat : kTraceFresh));
}

void TraceRecorder::End(uint32_t now, bool givenUp) {
  // A step lasts at least 1 ms in a script, even one seen only by the last poll.
  FlushByte(now, 1);
  byte_ = kNoByte;
  Emit(Line()
           .Text("# end of run, ")
           .Seconds(now - startTick_)
           .Text(" after it began")
           .Text(givenUp ? ", given up by Stop" : ""));
}

// The step of the byte under way, ended at `now`; a step longer than a
// script allows is written as several. Differences of ticks are unsigned,
// so a run across the counter's wrap keeps its durations.
void TraceRecorder::FlushByte(uint32_t now, uint32_t least) {
  if (byte_ == kNoByte) return;
  uint32_t left = now - since_;
  if (left < least) left = least;
  while (left > 0) {
    const uint32_t step = left < kScriptMaxDurationMs ? left : kScriptMaxDurationMs;
    Emit(Line().Text("raw ").Byte(static_cast<uint32_t>(byte_)).Text(" ").Number(step).Text("ms"));
    left -= step;
  }
}

void TraceRecorder::Emit(Line& line) {
  if (full_) return;
  const char* text = line.text();
  size_t length = line.length();
  if (written_ + length + kCapNoteLength > capacity_) {
    full_ = true;
    if (written_ + kCapNoteLength > capacity_) return;
    text = kCapNote;
    length = kCapNoteLength;
  }
  writer_(context_, text, length);
  written_ += length;
}

}  // namespace kolvane
