// A run of the poll loop made up on a virtual clock, recorded as the module
// records a real one: the caller says which receiver byte shows for how
// long, and every poll, one per kPollPeriodMs, goes through the module's
// own decoder and key table into a TraceRecorder. So a made-up trace holds
// the byte lines, the reports and their times the module would write for that
// receiver, and nothing is written by hand.
#ifndef KOLVANE_TRACE_MADE_UP_RUN_H
#define KOLVANE_TRACE_MADE_UP_RUN_H

#include <stdint.h>

#include "receiver/key_decoder.h"
#include "trace/recorder.h"

namespace kolvane {

class MadeUpRun {
 public:
  // Begins the run on `recorder` at tick `start`, with the header the module
  // writes (`startedAt`, `version`, `platform` as TraceRecorder::Begin).
  MadeUpRun(TraceRecorder* recorder, uint32_t start, const char* startedAt, const char* version, const char* platform);
  MadeUpRun(const MadeUpRun&) = delete;
  MadeUpRun& operator=(const MadeUpRun&) = delete;

  // The receiver shows `byte` for the next `ms` ms: the polls in that time
  // read it. A long spell of a byte whose polls report nothing (idle, say)
  // costs a few polls, not one per period: whole repeat cycles are skipped,
  // which leaves the trace and the decoder as every poll would have.
  void Show(uint32_t byte, uint64_t ms);
  // Ends the run at the last poll.
  void End();

  // Milliseconds from the start to the last poll.
  uint64_t elapsed() const { return polled_; }

 private:
  void Poll(uint32_t byte, uint64_t at);
  // When the next poll must be made for `byte`, the first poll due being at
  // `due`: later than `due` where the polls in between would change nothing.
  uint64_t NextPoll(uint32_t byte, uint64_t due) const;

  TraceRecorder* recorder_;
  KeyDecoder decoder_;
  uint32_t start_;
  uint64_t polled_ = 0;  // the last poll, in ms from the start
  uint64_t shown_ = 0;   // the receiver's bytes are given up to here
  // The spell of the byte under way: its byte, whether it has been polled,
  // and, for a held byte whose repeats report no key, its last two repeats
  // (in ms from the start), counted up to two.
  int32_t byte_ = -1;
  bool spellPolled_ = false;
  uint64_t quietRepeats_[2] = {0, 0};
  int quietRepeatCount_ = 0;
};

}  // namespace kolvane

#endif  // KOLVANE_TRACE_MADE_UP_RUN_H
