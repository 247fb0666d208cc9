// What --explain's findings share: a run's receiver bytes as its polls saw
// them (the byte lines of an hour-long spell joined), the reports made and
// the late polls noted while each was shown, and the words for them.
#ifndef KOLVANE_TRACE_SHOWINGS_H
#define KOLVANE_TRACE_SHOWINGS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "diagnosis/explain.h"
#include "receiver/remote_keys.h"
#include "trace/reader.h"

namespace kolvane {
namespace explain {

// One byte as the polls saw it.
struct Shown {
  uint32_t byte;
  int64_t startMs;  // about: the first poll is taken a period after the run began
  int64_t ms;
  int line;      // its first byte line
  int lastLine;  // its last byte line
};

std::vector<Shown> Showings(const TraceRun& run);

// The reports made while shown[i] was on the receiver: the module writes a
// report before the byte line of the byte that made it.
std::vector<const TracedReport*> ReportsDuring(const TraceRun& run, const std::vector<Shown>& shown, size_t i);
// How long late polls held the thread while shown[i] was on the receiver
// (a late poll lengthens the byte line before its comment), the register
// set-up's wait before the first poll left out.
int64_t LateMsDuring(const TraceRun& run, const std::vector<Shown>& shown, size_t i);
// The first poll that saw shown[i] came late: most of the byte before it
// may have gone unseen.
bool CameLate(const TraceRun& run, const std::vector<Shown>& shown, size_t i);

uint32_t CodeOf(uint32_t byte);
const RemoteKey* KeyOf(uint32_t byte);
bool IsHeld(uint32_t byte);
// A byte the decoder reports nothing for however long it stays: the held
// bit set and no key's code (the idle receiver's byte among them).
bool IsQuiet(uint32_t byte);

// "0x58"; a register's offset as "0x200".
std::string Hex(uint32_t value);
// "0x58 (Kolvane_VolumeUp)", "0x59 (Kolvane_VolumeUp held)", "0xFF (idle)", "0x02 (no key)"
std::string ByteText(uint32_t byte);
// "Kolvane_VolumeUp fresh", made printable: the name comes from the trace.
std::string ReportText(const TracedReport& report);
std::string Milliseconds(int64_t ms);
// Adds evidence up to kMaxEvidence, counting the rest.
void AddEvidence(Finding* finding, int line, int64_t ms, const std::string& text);

}  // namespace explain
}  // namespace kolvane

#endif  // KOLVANE_TRACE_SHOWINGS_H
