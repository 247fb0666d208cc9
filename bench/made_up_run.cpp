#include "bench/made_up_run.h"

#include <algorithm>

#include "receiver/device.h"
#include "receiver/remote_keys.h"
#include "trace/format.h"
#include "trace/traced_poll.h"

namespace kolvane {
namespace {

// The most a skip moves the clock at once, well inside the 32-bit tick's
// range, so every tick difference the decoder and the recorder take stays
// exact.
constexpr uint64_t kLongestSkipMs = 16 * uint64_t{kScriptMaxDurationMs};

}  // namespace

MadeUpRun::MadeUpRun(TraceRecorder* recorder, uint32_t start, const char* startedAt, const char* version,
                     const char* platform)
    : recorder_(recorder), decoder_(start), start_(start) {
  recorder_->Begin(start, startedAt, version, platform, false);
}

void MadeUpRun::Show(uint32_t byte, uint64_t ms) {
  shown_ += ms;
  uint64_t due = polled_ + kPollPeriodMs;
  while (due <= shown_) {
    const uint64_t at = NextPoll(byte, due);
    Poll(byte, at);
    due = at + kPollPeriodMs;
  }
}

// A poll as the module's loop makes it, on a clock that stands still within
// the poll: the decoder, then the recorder's byte line and the report of a key
// the table knows.
void MadeUpRun::Poll(uint32_t byte, uint64_t at) {
  if (static_cast<int32_t>(byte) != byte_) {
    byte_ = static_cast<int32_t>(byte);
    spellPolled_ = false;
    quietRepeatCount_ = 0;
  }
  const uint32_t tick = start_ + static_cast<uint32_t>(at);
  recorder_->PolledOnScheduleUntil(tick - kPollPeriodMs);
  const TracedPollResult traced = TracedPoll(
      &decoder_, byte, [tick] { return tick; },
      [](uint32_t code) { return FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, code); }, recorder_);
  if (traced.polled.report && traced.polled.repeat) {
    if (traced.key != nullptr) {
      quietRepeatCount_ = -1;  // a held key: every poll counts
    } else if (quietRepeatCount_ >= 0) {
      quietRepeats_[0] = quietRepeats_[1];
      quietRepeats_[1] = at;
      if (quietRepeatCount_ < 2) ++quietRepeatCount_;
    }
  }
  spellPolled_ = true;
  polled_ = at;
}

// A byte with the held bit clear reports only at its first poll (a change)
// and moves the repeat mark to every poll, so after that first poll only the
// last one counts. A held byte whose repeats report no key repeats on a
// fixed cycle: the next poll may be the repeat poll whole cycles on, since
// the decoder, skipping the repeats between, repeats there just the same
// (more than the delay has passed) and sets the same mark, and the
// recorder, seeing the same byte, writes the same byte lines.
uint64_t MadeUpRun::NextPoll(uint32_t byte, uint64_t due) const {
  if (!spellPolled_ || static_cast<int32_t>(byte) != byte_) return due;
  if (!IsHeldByte(byte)) {
    const uint64_t periods = (shown_ - due) / kPollPeriodMs;
    return due + std::min(periods, kLongestSkipMs / kPollPeriodMs) * kPollPeriodMs;
  }
  if (quietRepeatCount_ != 2) return due;
  const uint64_t last = quietRepeats_[1];
  const uint64_t cycle = last - quietRepeats_[0];
  if (shown_ < last + cycle) return due;
  return last + std::min((shown_ - last) / cycle, kLongestSkipMs / cycle) * cycle;
}

void MadeUpRun::End() { recorder_->End(start_ + static_cast<uint32_t>(polled_ + kPollPeriodMs), false); }

}  // namespace kolvane
