// Writes the trace of one run of the poll loop (see format.h): the
// receiver byte of every poll, merged while it stays the same, and every key
// reported. Pure formatting on a caller-supplied clock and output, so it is
// tested on a virtual clock; it never allocates, and formats its lines
// itself (no printf, whose Windows runtime support would grow the DLL).
#ifndef KOLVANE_TRACE_RECORDER_H
#define KOLVANE_TRACE_RECORDER_H

#include <stddef.h>
#include <stdint.h>

namespace kolvane {

// Where the lines go: the trace file, or a test's double.
class TraceOutput {
 public:
  // The file's size now, as the file system tells it (other writers may
  // have added to it); false when it cannot be told.
  virtual bool Size(uint64_t* size) = 0;
  // Appends the whole line; false when it was not all written.
  virtual bool Append(const char* text, size_t length) = 0;

 protected:
  ~TraceOutput() = default;
};

// Room for the cap as FormatTraceCap writes it, terminator included.
constexpr size_t kTraceCapTextSize = 32;

// The cap as the cap comment and the log say it: "8 MiB", "12 KiB", or
// "400 bytes" for a size of no whole KiB.
void FormatTraceCap(uint64_t cap, char (&text)[kTraceCapTextSize]);

class TraceRecorder {
 public:
  // The longest line it writes, "\n" included.
  static constexpr size_t kMaxLine = 192;

  // The file may grow to `cap` bytes; the last line written before that is
  // the cap comment, which names `cap`.
  TraceRecorder(TraceOutput* output, uint64_t cap);
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  // The header comment; `now` is when the run began, the zero of report
  // times. `endLineFirst`: the file ends in part of a line (a crash, a full
  // disk), which a line end closes first, so the run starts on its own line.
  void Begin(uint32_t now, const char* startedAt, const char* version, const char* platform, bool endLineFirst);
  // One poll read `byte` at `now`. A byte that stays longer than a script
  // step may last is written a byte line at a time, so a long idle spell is in
  // the file even if the run never ends cleanly.
  void OnPoll(uint32_t byte, uint32_t now);
  // The polls up to `now` were left out on purpose (a made-up run skips
  // spells that cannot report): the next poll is not taken for a late one.
  void PolledOnScheduleUntil(uint32_t now) { lastPoll_ = now; }
  // A key was reported at `now`.
  void OnReport(const char* name, bool repeat, uint32_t now);
  // The run ended at `now`: the last byte's line, ended at the last poll
  // that saw it (not at `now`, which may be long after, when a host call
  // held the thread), and a closing comment.
  void End(uint32_t now, bool givenUp);

  // Writing stops for good at the cap, or at the first failed write.
  bool full() const { return state_ == State::kFull; }
  bool failed() const { return state_ == State::kFailed; }

  // Whether a file whose last bytes are `tail` ends in the comment of a
  // recorder capped at `cap`.
  static bool EndsCapped(const char* tail, size_t length, uint64_t cap);

 private:
  enum class State { kWriting, kFull, kFailed };
  class Line;  // one line, built in place
  static size_t CapComment(uint64_t cap, char (&line)[kMaxLine]);
  void Emit(Line& line);
  void Put(const char* text, size_t length);
  void WriteByteLine(uint32_t duration);
  void FlushByte(uint32_t end, uint32_t least);

  static constexpr int32_t kNoByte = -1;

  TraceOutput* output_;
  uint64_t cap_;
  char capComment_[kMaxLine];  // written instead of the line that would not fit; room for it is kept
  size_t capCommentLength_;
  State state_ = State::kWriting;
  uint32_t startTick_ = 0;
  int32_t byte_ = kNoByte;  // the byte of the byte line under way
  uint32_t since_ = 0;      // where its line began: its first poll, or the end of its last full line
  uint32_t lastPoll_ = 0;   // the last poll that saw it
};

}  // namespace kolvane

#endif  // KOLVANE_TRACE_RECORDER_H
