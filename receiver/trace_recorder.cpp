#include "receiver/trace_recorder.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "receiver/trace_format.h"

namespace kolvane {
namespace {

constexpr uint32_t kMillisPerSecond = 1000;
// Written instead of the line that would not fit; room for it is kept.
constexpr const char kCapNote[] = "# trace stopped: the file reached its size cap of 8 MiB\n";
constexpr size_t kCapNoteLength = sizeof(kCapNote) - 1;

}  // namespace

TraceRecorder::TraceRecorder(Writer writer, void* context, uint64_t capacity)
    : writer_(writer), context_(context), capacity_(capacity) {}

void TraceRecorder::Begin(uint32_t now, const char* startedAt, const char* version, const char* platform) {
  startTick_ = now;
  Line("# kolvane %s trace, %s, started %s\n", version, platform, startedAt);
  Line("# a kolvane-host script: replay it with 'kolvane-host FILE', check it with 'kolvane-host --compare FILE'\n");
}

void TraceRecorder::OnPoll(uint32_t byte, uint32_t now) {
  if (static_cast<int32_t>(byte) == byte_) return;
  FlushByte(now, 0);
  byte_ = static_cast<int32_t>(byte);
  since_ = now;
}

void TraceRecorder::OnReport(const char* name, bool repeat, uint32_t now) {
  char seconds[16];
  Seconds(now, seconds, sizeof seconds);
  Line("# %s %s %s\n", seconds, name, repeat ? kTraceRepeat : kTraceFresh);
}

void TraceRecorder::End(uint32_t now, bool givenUp) {
  // A step lasts at least 1 ms in a script, even one seen only by the last poll.
  FlushByte(now, 1);
  byte_ = kNoByte;
  char seconds[16];
  Seconds(now, seconds, sizeof seconds);
  Line("# end of run, %s after it began%s\n", seconds, givenUp ? ", given up by Stop" : "");
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
    Line("raw 0x%02X %ums\n", static_cast<unsigned>(byte_), static_cast<unsigned>(step));
    left -= step;
  }
}

void TraceRecorder::Seconds(uint32_t now, char* out, size_t size) const {
  const uint32_t elapsed = now - startTick_;
  snprintf(out, size, "%u.%03us", static_cast<unsigned>(elapsed / kMillisPerSecond),
           static_cast<unsigned>(elapsed % kMillisPerSecond));
}

void TraceRecorder::Line(const char* format, ...) {
  char line[kMaxLine + 1];
  va_list args;
  va_start(args, format);
  const int length = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length <= 0) return;
  size_t size = static_cast<size_t>(length);
  if (size > kMaxLine) {  // cut, but still a whole line
    size = kMaxLine;
    line[size - 1] = '\n';
  }
  Emit(line, size);
}

void TraceRecorder::Emit(const char* text, size_t length) {
  if (full_) return;
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
