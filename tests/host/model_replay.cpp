#include "tests/host/model_replay.h"

#include "host/session/script_runner.h"
#include "receiver/device.h"
#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"
#include "tests/support/decoder_model.h"
#include "trace/recorder.h"
#include "trace/string_output.h"

namespace kolvane {
namespace host {
namespace test {

std::vector<ModelReport> ModelReplay(const ReceiverSchedule& schedule) {
  model::DecoderModel decoder(0, model::RepeatClock::kRealTime);
  std::vector<ModelReport> reports;
  const size_t count = schedule.changes.size();
  uint8_t byte = schedule.startByte;
  size_t next = 0;
  size_t current = 0;
  uint64_t showAt = 1;   // when change `next` (or, after the last, the idle tail) goes on
  bool waiting = false;  // a quick change waits for the poll that sees it
  for (uint64_t poll = kPollPeriodMs;; poll += kPollPeriodMs) {
    while (!waiting && next < count && showAt <= poll) {
      byte = schedule.changes[next].byte;
      current = next;
      if (schedule.changes[next].quick) {
        waiting = true;
      } else {
        showAt += schedule.DurationMs(next);
      }
      ++next;
    }
    const bool tail = !waiting && next == count && showAt <= poll;
    if (tail) {
      byte = kIdleReceiverByte;
      if (!schedule.quickTail && poll >= showAt + kTailMs) break;
    }
    const model::Report report = decoder.Poll(byte, poll, poll);
    if (report.made) {
      const RemoteKey* key = FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, report.code);
      if (key != nullptr) reports.push_back(ModelReport{key->name, (byte & kHeldBit) != 0, current});
    }
    if (tail && schedule.quickTail) break;  // stopped once a poll has seen the idle tail
    if (waiting) {
      waiting = false;
      showAt = poll + 1;
    }
  }
  return reports;
}

std::vector<TracedReport> AsTraced(const std::vector<ModelReport>& reports) {
  std::vector<TracedReport> traced;
  traced.reserve(reports.size());
  for (const ModelReport& report : reports) traced.push_back(TracedReport{0, report.name, report.repeat});
  return traced;
}

namespace {}  // namespace

std::string RecordRun(const std::vector<uint8_t>& bytes, const std::vector<int>& polls, uint64_t capacity) {
  std::string text;
  StringTraceOutput output(&text);
  TraceRecorder recorder(&output, capacity);
  uint32_t now = 1000;
  KeyDecoder decoder(now);
  recorder.Begin(now, "2026-12-09 02:36:19", "1.0.0", "linux x86_64", false);
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (int k = 0; k < polls[i]; ++k) {
      now += kPollPeriodMs;
      decoder.Poll(
          bytes[i], [&] { return now; },
          [&](const KeyDecoder::PollResult& result, uint32_t) {
            recorder.OnPoll(bytes[i], now);
            const RemoteKey* key =
                result.report ? FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, result.code) : nullptr;
            if (key != nullptr) recorder.OnReport(key->name, (bytes[i] & kHeldBit) != 0, now);
          });
    }
  }
  recorder.End(now + kPollPeriodMs, false);
  return text;
}

}  // namespace test
}  // namespace host
}  // namespace kolvane
