#include "diagnosis/showings.h"

#include <stdio.h>

#include "receiver/device.h"
#include "receiver/key_decoder.h"
#include "text/printable.h"
#include "trace/format.h"

namespace kolvane {
namespace explain {

std::vector<Shown> Showings(const TraceRun& run) {
  std::vector<Shown> shown;
  int64_t at = kPollPeriodMs;
  for (const TracedByteLine& byteLine : run.byteLines) {
    if (!shown.empty() && shown.back().byte == byteLine.byte) {
      shown.back().ms += byteLine.ms;
      shown.back().lastLine = byteLine.line;
    } else {
      shown.push_back(Shown{byteLine.byte, at, byteLine.ms, byteLine.line, byteLine.line});
    }
    at += byteLine.ms;
  }
  return shown;
}

std::vector<const TracedReport*> ReportsDuring(const TraceRun& run, const std::vector<Shown>& shown, size_t i) {
  const int after = i > 0 ? shown[i - 1].lastLine : run.headerLine;
  std::vector<const TracedReport*> reports;
  for (const TracedReport& report : run.reports) {
    if (report.line > after && report.line < shown[i].lastLine) reports.push_back(&report);
  }
  return reports;
}

namespace {

// The register set-up held the run's first poll: no byte was on show yet.
bool AtSetUp(const TracedLatePoll& late) {
  return late.ms - static_cast<int64_t>(late.lateMs) - static_cast<int64_t>(kPollPeriodMs) <= 0;
}

}  // namespace

int64_t LateMsDuring(const TraceRun& run, const std::vector<Shown>& shown, size_t i) {
  // The comment of the poll that first saw shown[i] follows the byte line
  // before it, and that byte line holds the wait.
  const int after = (i > 0 ? shown[i - 1].lastLine : run.headerLine) + 1;
  int64_t ms = 0;
  for (const TracedLatePoll& late : run.latePolls) {
    if (late.line > after && late.line <= shown[i].lastLine + 1 && !AtSetUp(late)) ms += late.lateMs;
  }
  return ms;
}

bool CameLate(const TraceRun& run, const std::vector<Shown>& shown, size_t i) {
  if (i == 0) return false;
  for (const TracedLatePoll& late : run.latePolls) {
    if (late.line == shown[i - 1].lastLine + 1) return true;
  }
  return false;
}

uint32_t CodeOf(uint32_t byte) { return byte & kRepeatCodeMask; }

const RemoteKey* KeyOf(uint32_t byte) { return FindRemoteKey(RemoteKeyTable, kRemoteKeyCount, CodeOf(byte)); }

bool IsHeld(uint32_t byte) { return IsHeldByte(byte); }

bool IsQuiet(uint32_t byte) { return IsHeld(byte) && KeyOf(byte) == nullptr; }

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
  return text;
}

std::string ByteText(uint32_t byte) {
  if (byte == kIdleReceiverByte) return Hex(byte) + " (idle)";
  const RemoteKey* key = KeyOf(byte);
  if (key == nullptr) return Hex(byte) + " (no key)";
  return Hex(byte) + " (" + key->name + (IsHeld(byte) ? " held)" : ")");
}

std::string ReportText(const TracedReport& report) {
  return Printable(report.name) + " " + (report.repeat ? kTraceRepeat : kTraceFresh);
}

std::string Milliseconds(int64_t ms) { return std::to_string(ms) + " ms"; }

void AddEvidence(Finding* finding, int line, int64_t ms, const std::string& text) {
  if (finding->evidence.size() < kMaxEvidence) {
    finding->evidence.push_back(Evidence{line, ms, text});
  } else {
    ++finding->moreEvidence;
  }
}

}  // namespace explain
}  // namespace kolvane
