#include "trace/recorder.h"

#include <string.h>

#include "receiver/device.h"
#include "text/trace_time.h"
#include "trace/format.h"

namespace kolvane {
namespace {

constexpr uint64_t kDecimalBase = 10;

}  // namespace

void FormatTraceCap(uint64_t cap, char (&text)[kTraceCapTextSize]) {
  const char* unit = " bytes";
  uint64_t count = cap;
  if (cap != 0 && cap % kBytesPerMiB == 0) {
    count = cap / kBytesPerMiB;
    unit = " MiB";
  } else if (cap != 0 && cap % kBytesPerKiB == 0) {
    count = cap / kBytesPerKiB;
    unit = " KiB";
  }
  char digits[20];  // the most a uint64_t has
  size_t length = 0;
  do {
    digits[length++] = static_cast<char>('0' + count % kDecimalBase);
    count /= kDecimalBase;
  } while (count != 0);
  size_t at = 0;
  while (length > 0) text[at++] = digits[--length];
  while (*unit != '\0') text[at++] = *unit++;
  text[at] = '\0';
}

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
    char text[kTraceTimeSize];
    return Text(FormatTraceTime(ms, text));
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

TraceRecorder::TraceRecorder(TraceOutput* output, uint64_t cap)
    : output_(output), cap_(cap), capCommentLength_(CapComment(cap, capComment_)) {}

size_t TraceRecorder::CapComment(uint64_t cap, char (&line)[kMaxLine]) {
  char capText[kTraceCapTextSize];
  FormatTraceCap(cap, capText);
  Line comment;
  comment.Text(kTraceCapComment).Text(capText);
  memcpy(line, comment.text(), comment.length());
  return comment.length();
}

void TraceRecorder::Begin(uint32_t now, const char* startedAt, const char* version, const char* platform,
                          bool endLineFirst) {
  startTick_ = now;
  lastPoll_ = now;  // the first poll is due a period after the run began
  if (endLineFirst) Put("\n", 1);
  Emit(Line()
           .Text(kTraceHeaderStart)
           .Text(version)
           .Text(kTraceHeaderKind)
           .Text(platform)
           .Text(", started ")
           .Text(startedAt));
  Emit(Line().Text(
      "# a kolvane-host script: replay it with 'kolvane-host FILE', check it with 'kolvane-host --compare FILE', "
      "explain it with 'kolvane-host --explain FILE'"));
}

// A byte line ends at the first poll of the next byte; a byte held past a
// script step's longest is written as each such line is complete, leaving the rest
// (at least one poll's worth) under way.
void TraceRecorder::OnPoll(uint32_t byte, uint32_t now) {
  const uint32_t sinceLastPoll = now - lastPoll_;
  if (static_cast<int32_t>(byte) != byte_) {
    FlushByte(now, 0);
    byte_ = static_cast<int32_t>(byte);
    since_ = now;
  } else {
    while (now - since_ > kScriptMaxDurationMs) {
      WriteByteLine(kScriptMaxDurationMs);
      since_ += kScriptMaxDurationMs;
    }
  }
  lastPoll_ = now;
  // Late by a whole period or more: a host call or the machine held the
  // thread, and a byte shown for less than the gap could go unseen.
  if (sinceLastPoll >= kPollPeriodMs + kLatePollMs) {
    Emit(Line()
             .Text("# ")
             .Seconds(now - startTick_)
             .Text(" ")
             .Text(kTraceLatePoll)
             .Text(" ")
             .Number(sinceLastPoll - kPollPeriodMs)
             .Text("ms ")
             .Text(kTraceLate));
  }
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
  // The last byte line ends where the next poll would have seen another byte,
  // not when the thread ended: a host call may have held it long after.
  const uint32_t end = now - lastPoll_ > kPollPeriodMs ? lastPoll_ + kPollPeriodMs : now;
  // A step lasts at least 1 ms in a script.
  FlushByte(end, 1);
  byte_ = kNoByte;
  Emit(
      Line().Text(kTraceEndStart).Seconds(now - startTick_).Text(" after it began").Text(givenUp ? kTraceGivenUp : ""));
}

bool TraceRecorder::EndsCapped(const char* tail, size_t length, uint64_t cap) {
  char comment[kMaxLine];
  const size_t commentLength = CapComment(cap, comment);
  return length >= commentLength && memcmp(tail + length - commentLength, comment, commentLength) == 0;
}

void TraceRecorder::WriteByteLine(uint32_t duration) {
  Emit(Line().Text(kTraceByteWord).Text(" ").Byte(static_cast<uint32_t>(byte_)).Text(" ").Number(duration).Text("ms"));
}

// The byte line of the byte under way, ended at `end`; one longer than a
// script step allows is written as several. Differences of ticks are unsigned,
// so a run across the counter's wrap keeps its durations.
void TraceRecorder::FlushByte(uint32_t end, uint32_t least) {
  if (byte_ == kNoByte) return;
  uint32_t left = end - since_;
  if (left < least) left = least;
  while (left > 0) {
    const uint32_t ms = left < kScriptMaxDurationMs ? left : kScriptMaxDurationMs;
    WriteByteLine(ms);
    left -= ms;
  }
}

void TraceRecorder::Emit(Line& line) { Put(line.text(), line.length()); }

// Checked against the file's real size at every line, so what other writers
// add counts too; the first failure ends the trace.
void TraceRecorder::Put(const char* text, size_t length) {
  if (state_ != State::kWriting) return;
  uint64_t size = 0;
  if (!output_->Size(&size)) {
    state_ = State::kFailed;
    return;
  }
  if (size > cap_ || cap_ - size < length + capCommentLength_) {
    state_ = State::kFull;
    if (size > cap_ || cap_ - size < capCommentLength_) return;
    text = capComment_;
    length = capCommentLength_;
  }
  if (!output_->Append(text, length)) state_ = State::kFailed;
}

}  // namespace kolvane
