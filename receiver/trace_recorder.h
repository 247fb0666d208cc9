// Writes the trace of one run of the poll loop (see trace_format.h): the
// receiver byte of every poll, merged while it stays the same, and every key
// reported. Pure formatting on a caller-supplied clock and writer, so it is
// tested on a virtual clock; it never allocates, and formats its lines
// itself (no printf, whose Windows runtime support would grow the DLL).
#ifndef KOLVANE_RECEIVER_TRACE_RECORDER_H
#define KOLVANE_RECEIVER_TRACE_RECORDER_H

#include <stddef.h>
#include <stdint.h>

namespace kolvane {

class TraceRecorder {
 public:
  // Receives whole lines, "\n" included.
  using Writer = void (*)(void* context, const char* text, size_t length);

  // `capacity` is how many bytes it may write in all; the last line it
  // writes when that runs out says so.
  TraceRecorder(Writer writer, void* context, uint64_t capacity);
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  // The header comment; `now` is when the run began, the zero of report times.
  void Begin(uint32_t now, const char* startedAt, const char* version, const char* platform);
  // One poll read `byte` at `now`.
  void OnPoll(uint32_t byte, uint32_t now);
  // A key was reported at `now`.
  void OnReport(const char* name, bool repeat, uint32_t now);
  // The run ended at `now`: the last byte's step and a closing comment.
  void End(uint32_t now, bool givenUp);

  bool full() const { return full_; }
  uint64_t written() const { return written_; }

  // The longest line it writes, "\n" included.
  static constexpr size_t kMaxLine = 192;

 private:
  class Line;  // one line, built in place
  void Emit(Line& line);
  void FlushByte(uint32_t now, uint32_t least);

  static constexpr int32_t kNoByte = -1;

  Writer writer_;
  void* context_;
  uint64_t capacity_;
  uint64_t written_ = 0;
  bool full_ = false;
  uint32_t startTick_ = 0;
  int32_t byte_ = kNoByte;  // the byte of the step under way
  uint32_t since_ = 0;      // the first poll that saw it
};

}  // namespace kolvane

#endif  // KOLVANE_RECEIVER_TRACE_RECORDER_H
