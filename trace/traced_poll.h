// One poll of the poll loop, written once for the module and for the
// made-up runs: the decoder decides, the key goes to the host first (a slow
// disk under the trace never delays it), then the trace gets the byte line
// and the report of a key the table knows. Allocates nothing.
#ifndef KOLVANE_TRACE_TRACED_POLL_H
#define KOLVANE_TRACE_TRACED_POLL_H

#include <stdint.h>

#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"

namespace kolvane {

// What one traced poll did: the decoder's result and the key it reported
// (null when it reported none, or none the table knows).
struct TracedPollResult {
  KeyDecoder::PollResult polled;
  const RemoteKey* key;
};

// Polls `byte` through `decoder` on `clock` (as KeyDecoder::Poll). On a
// report, `dispatch(code)` hands the key on and returns it, or null; then
// `trace` (anything with OnPoll(byte, tick) and OnReport(name, repeat,
// tick)) records the poll and the report.
template <typename Clock, typename Dispatch, typename Trace>
TracedPollResult TracedPoll(KeyDecoder* decoder, uint32_t byte, Clock&& clock, Dispatch&& dispatch, Trace* trace) {
  const RemoteKey* key = nullptr;
  const KeyDecoder::PollResult polled =
      decoder->Poll(byte, clock, [&](const KeyDecoder::PollResult& result, uint32_t now) {
        key = result.report ? dispatch(result.code) : nullptr;
        trace->OnPoll(byte, now);
        if (key != nullptr) trace->OnReport(key->name, result.repeat, now);
      });
  return TracedPollResult{polled, key};
}

}  // namespace kolvane

#endif  // KOLVANE_TRACE_TRACED_POLL_H
