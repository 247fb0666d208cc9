// The trace of one run of the poll loop, when the host's environment names a
// file in KOLVANE_TRACE: opened by Start on the host's thread, then written
// and closed by the poll thread alone. With no file every call does nothing.
#ifndef KOLVANE_MODULE_POLL_TRACE_H
#define KOLVANE_MODULE_POLL_TRACE_H

#include <stdint.h>
#include <stdio.h>

#include "receiver/trace_recorder.h"

namespace kolvane {

struct PollTraceFile {
  FILE* file;         // null: no trace
  uint64_t capacity;  // bytes it may still take before the size cap
};

// Start, host thread: reads KOLVANE_TRACE and opens the file it names. A
// file that cannot be opened, or is already at the size cap, means no trace
// and one line in the log saying so.
PollTraceFile OpenPollTrace();
// Closes a file the poll thread never got (its creation failed).
void ClosePollTrace(PollTraceFile* trace);

// Poll thread: owns the file from the start of the run; lines are flushed
// as they are written, and nothing here allocates.
class PollTrace {
 public:
  PollTrace(PollTraceFile trace, uint32_t now);
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
  static void Write(void* context, const char* text, size_t length);

  FILE* file_;
  TraceRecorder recorder_;
};

}  // namespace kolvane

#endif  // KOLVANE_MODULE_POLL_TRACE_H
