// Replays on paper, for tests that need thousands of them: the decoder's
// model (tests/support/decoder_model.h) polled every 20 ms against a schedule the
// way PlaySchedule shows it to the module (quick changes until one poll has
// seen them), and the trace the module's recorder writes of a run of the
// real decoder on the same clock.
#ifndef KOLVANE_TESTS_HOST_MODEL_REPLAY_H
#define KOLVANE_TESTS_HOST_MODEL_REPLAY_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "host/script/receiver_schedule.h"
#include "trace/reader.h"

namespace kolvane {
namespace host {
namespace test {

struct ModelReport {
  std::string name;
  bool repeat;
  size_t change;  // the change on the receiver when it was made
  bool operator==(const ModelReport& other) const {
    return name == other.name && repeat == other.repeat && change == other.change;
  }
};

// The keys the model reports for `schedule`. The start byte is on the
// receiver from before the first poll; the first change goes on 1 ms after
// a poll, so durations that are whole poll periods keep every change at the
// same phase of the polls, quick or not. After the last change the receiver
// idles for kTailMs, or for one poll when the tail is quick.
std::vector<ModelReport> ModelReplay(const ReceiverSchedule& schedule);

// The same as the reports --compare checks (times left at 0).
std::vector<TracedReport> AsTraced(const std::vector<ModelReport>& reports);

// A run of the real decoder seen by the module's trace recorder: `bytes[i]`
// for `polls[i]` polls each, 20 ms apart, in a file of `capacity` bytes.
std::string RecordRun(const std::vector<uint8_t>& bytes, const std::vector<int>& polls, uint64_t capacity);

}  // namespace test
}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_TESTS_HOST_MODEL_REPLAY_H
