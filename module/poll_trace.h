// The trace of one run of the poll loop, when the host's environment names a
// file in KOLVANE_TRACE: opened by Start on the host's thread, then written
// and closed by the poll thread alone. With no file every call does nothing.
#ifndef KOLVANE_MODULE_POLL_TRACE_H
#define KOLVANE_MODULE_POLL_TRACE_H

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"
#include "trace/recorder.h"

namespace kolvane {

// Room for any path the host's system takes, in UTF-8.
constexpr size_t kMaxTracePath = 4096;

struct PollTraceFile {
  platform::File* file;      // null: no trace
  bool endsMidLine;          // the file's last byte is not a line end
  char path[kMaxTracePath];  // for the log
};

// Start, host thread: reads KOLVANE_TRACE and opens the file it names, locked
// against other writers. A name too long, a file that cannot be opened, is
// not a regular file, is in use or has reached the size cap means no trace
// and one line in the log saying which.
void OpenPollTrace(PollTraceFile* trace);
// Closes a file the poll thread never got (its creation failed).
void ClosePollTrace(PollTraceFile* trace);

// Poll thread: owns the file from the start of the run. Every line is one
// write, checked; the first that fails ends the trace with one line in the
// log. Nothing here allocates.
class PollTrace final : private TraceOutput {
 public:
  // `trace` stays where it is for the whole run; the file becomes this one's.
  PollTrace(const PollTraceFile& trace, uint32_t now);
  PollTrace(const PollTrace&) = delete;
  PollTrace& operator=(const PollTrace&) = delete;
  ~PollTrace();

  void OnPoll(uint32_t byte, uint32_t now) {
    if (file_ != nullptr) recorder_.OnPoll(byte, now);
  }
  void OnReport(const char* name, bool repeat, uint32_t now) {
    if (file_ != nullptr) recorder_.OnReport(name, repeat, now);
  }
  // The run's last lines, and the file closed.
  void End(uint32_t now, bool givenUp);

 private:
  bool Size(uint64_t* size) override;
  bool Append(const char* text, size_t length) override;
  void LogWriteFailure() const;

  platform::File* file_;
  const char* const path_;
  uint64_t sizeBefore_ = 0;  // as Size last found it, before the append it checks for
  TraceRecorder recorder_;
};

}  // namespace kolvane

#endif  // KOLVANE_MODULE_POLL_TRACE_H
