#include "diagnosis/explain_presses.h"

#include <map>
#include <string>

#include "receiver/device.h"
#include "trace/format.h"

namespace kolvane {
namespace explain {
namespace {

// Findings of one kind, one a key, in the order their keys first came.
class ByKey {
 public:
  explicit ByKey(FindingKind kind) : kind_(kind) {}
  Finding& For(const RemoteKey& key, size_t* times) {
    if (findings_.find(key.name) == findings_.end()) order_.push_back(key.name);
    Finding& finding = findings_.emplace(key.name, Finding(kind_)).first->second;
    *times = ++times_[key.name];
    return finding;
  }
  std::vector<Finding> Take() {
    std::vector<Finding> findings;
    for (const std::string& name : order_) findings.push_back(findings_.at(name));
    return findings;
  }

 private:
  FindingKind kind_;
  std::vector<std::string> order_;
  std::map<std::string, Finding> findings_;
  std::map<std::string, size_t> times_;
};

const TracedReport* FirstReport(const std::vector<const TracedReport*>& reports, const RemoteKey& key, bool repeat) {
  for (const TracedReport* report : reports) {
    if (report->name == key.name && report->repeat == repeat) return report;
  }
  return nullptr;
}

// The key's last report before `line`.
const TracedReport* LastReportBefore(const TraceRun& run, const RemoteKey& key, int line) {
  const TracedReport* last = nullptr;
  for (const TracedReport& report : run.reports) {
    if (report.line < line && report.name == key.name) last = &report;
  }
  return last;
}

// shown[i] is a short quiet gap inside the showings of one key's code: a
// signal lost for a poll or two, not a release. A gap the first poll of
// which came late was longer than the polls saw.
bool ShortGapIn(const TraceRun& run, const std::vector<Shown>& shown, size_t i, const RemoteKey& key) {
  return i >= 1 && i + 1 < shown.size() && IsQuiet(shown[i].byte) && shown[i].ms < kDoublePressGapMs &&
         CodeOf(shown[i - 1].byte) == key.code && !CameLate(run, shown, i);
}

void DescribeDoublePress(const RemoteKey& key, size_t times, Finding* finding) {
  const std::string again = times == 1 ? " again" : " again " + std::to_string(times) + " times, each";
  finding->summary = std::string(key.name) + " was reported " + kTraceFresh + again +
                     " after the receiver was idle for less than " + Milliseconds(kDoublePressGapMs) +
                     ", shorter than any real release and press: one press read as two (a double press).";
  finding->cause =
      "The receiver lost the remote's signal for a poll or two in the middle of a press: something crossed the beam, "
      "a weak battery, the remote at the edge of its range, or a worn button that bounces. A person who releases a "
      "button and presses it again leaves it up for longer.";
  finding->cost = Count(times, "fresh report", "fresh reports") + " of " + key.name +
                  " more than the user pressed: the application acted twice on one press (one press jumps two "
                  "channels).";
  finding->action =
      "Check the remote's batteries, aim it at the receiver with nothing in between, and try it closer; if a good "
      "remote does it too, its button bounces.";
}

}  // namespace

std::vector<Finding> DoublePresses(const TraceRun& run, const std::vector<Shown>& shown) {
  ByKey findings(FindingKind::kDoublePress);
  for (size_t i = 2; i < shown.size(); ++i) {
    const RemoteKey* key = KeyOf(shown[i].byte);
    if (key == nullptr || IsHeld(shown[i].byte) || !ShortGapIn(run, shown, i - 1, *key)) continue;
    const TracedReport* again = FirstReport(ReportsDuring(run, shown, i), *key, false);
    const TracedReport* before = LastReportBefore(run, *key, shown[i - 1].line);
    if (again == nullptr || before == nullptr) continue;
    size_t times = 0;
    Finding& finding = findings.For(*key, &times);
    const Shown& gap = shown[i - 1];
    AddEvidence(&finding, gap.line, gap.startMs,
                ByteText(gap.byte) + " for " + Milliseconds(gap.ms) + ", after " + ReportText(*before) + " at " +
                    TraceTime(before->ms) + " (line " + std::to_string(before->line) + ")");
    AddEvidence(&finding, again->line, again->ms,
                ReportText(*again) + " again, " + Milliseconds(again->ms - before->ms) + " after it");
    DescribeDoublePress(*key, times, &finding);
  }
  return findings.Take();
}

namespace {

// Where shown[i], a key's held state, came from: its press byte (as it
// should), a hold that lost its signal for a poll or two, or nothing.
bool CameWithoutPress(const TraceRun& run, const std::vector<Shown>& shown, size_t i, const RemoteKey& key) {
  if (i == 0) return true;
  if (CodeOf(shown[i - 1].byte) == key.code) return false;
  return !(i >= 2 && ShortGapIn(run, shown, i - 1, key));
}

std::string WithoutPressCause(const TraceRun& run, const std::vector<Shown>& shown, size_t i) {
  if (i == 0) {
    return "The receiver showed the held state from the first poll: a button already down when the application "
           "started the module, or a card whose receiver keeps the last byte it decoded.";
  }
  if (CameLate(run, shown, i)) {
    return "The first poll that saw the held state came late: the poll thread was held while the press byte was "
           "shown, so the module saw only the held state.";
  }
  return "Noise on the receiver, or a press shorter than a poll (" + Milliseconds(kPollPeriodMs) +
         ") that the polls missed, followed by the remote's held state.";
}

void DescribeRepeatsWithoutPress(const RemoteKey& key, size_t repeats, const std::string& cause, Finding* finding) {
  finding->summary = std::string(key.name) + " was reported " + Count(repeats, "time", "times") + " as a " +
                     kTraceRepeat + " with no " + kTraceFresh + " report before it: its held state (" +
                     Hex(HeldByteOf(key.code)) + ") came without its press byte (" + Hex(key.code) + ").";
  if (finding->cause.empty()) finding->cause = cause;
  finding->cost = Count(repeats, "repeat", "repeats") + " of " + key.name +
                  " that nobody pressed for: the application acted on its own (the volume changes by itself).";
  finding->action =
      "Look for a remote lying on a button, shield the receiver from direct light and other remotes, and check "
      "that the receiver reads " +
      Hex(kIdleReceiverByte) + " (idle) when the application starts with no button down.";
}

}  // namespace

std::vector<Finding> RepeatsWithoutPress(const TraceRun& run, const std::vector<Shown>& shown) {
  ByKey findings(FindingKind::kRepeatsNoPress);
  std::map<std::string, size_t> repeatsOf;
  for (size_t i = 0; i < shown.size(); ++i) {
    const RemoteKey* key = KeyOf(shown[i].byte);
    if (key == nullptr || !IsHeld(shown[i].byte) || !CameWithoutPress(run, shown, i, *key)) continue;
    std::vector<const TracedReport*> repeats;
    for (const TracedReport* report : ReportsDuring(run, shown, i)) {
      if (report->repeat && report->name == key->name) repeats.push_back(report);
    }
    if (repeats.empty()) continue;
    size_t times = 0;
    Finding& finding = findings.For(*key, &times);
    const std::string from = i == 0 ? ", from the first poll" : ", after " + ByteText(shown[i - 1].byte);
    AddEvidence(&finding, shown[i].line, shown[i].startMs,
                ByteText(shown[i].byte) + " for " + TraceTime(shown[i].ms) + from + ": no press before it");
    AddEvidence(&finding, repeats.front()->line, repeats.front()->ms,
                ReportText(*repeats.front()) + ", the first of " + std::to_string(repeats.size()) + "; the last at " +
                    TraceTime(repeats.back()->ms) + " (line " + std::to_string(repeats.back()->line) + ")");
    repeatsOf[key->name] += repeats.size();
    DescribeRepeatsWithoutPress(*key, repeatsOf[key->name], WithoutPressCause(run, shown, i), &finding);
  }
  return findings.Take();
}

namespace {

Finding LatchedPress(const TraceRun& run, const std::vector<Shown>& shown, size_t i) {
  const int64_t ms = shown[i].ms;
  const RemoteKey& key = *KeyOf(shown[i].byte);
  Finding finding(FindingKind::kLatchedPress);
  finding.summary = std::string("The receiver kept ") + key.name + "'s press byte (" + Hex(shown[i].byte) + ") for " +
                    TraceTime(ms) +
                    ", although a remote turns it into its held state, or releases it, within about a tenth of a "
                    "second: a latched receiver.";
  AddEvidence(&finding, shown[i].line, shown[i].startMs, ByteText(shown[i].byte) + " for " + TraceTime(ms));
  const TracedReport* fresh = FirstReport(ReportsDuring(run, shown, i), key, false);
  if (fresh != nullptr) AddEvidence(&finding, fresh->line, fresh->ms, ReportText(*fresh) + ", its one report");
  if (i + 1 < shown.size()) {
    AddEvidence(&finding, shown[i + 1].line, shown[i + 1].startMs, "then " + ByteText(shown[i + 1].byte));
  }
  finding.cause =
      "The card's receiver latched the byte: it kept the last code it decoded instead of showing the held state or "
      "going idle; or the host's ReadRegister returned a stale value.";
  finding.cost = "One " + std::string(kTraceFresh) + " " + key.name + ", then nothing for " + TraceTime(ms) +
                 ": every button pressed meanwhile was lost, and one held then made no repeats (a press byte is "
                 "reported once).";
  finding.action = "Check that the card's receiver goes back to " + Hex(kIdleReceiverByte) +
                   " (idle) when the button is released, and that the host's ReadRegister(" + Hex(kRegisterReceiver) +
                   ") reads the register afresh at every call.";
  return finding;
}

}  // namespace

std::vector<Finding> LatchedPresses(const TraceRun& run, const std::vector<Shown>& shown) {
  std::vector<Finding> findings;
  bool armed = false;  // before a byte with the held bit set, the module reports nothing
  for (size_t i = 0; i < shown.size(); ++i) {
    const uint32_t byte = shown[i].byte;
    const int64_t polledMs = shown[i].ms - LateMsDuring(run, shown, i);
    if (armed && !IsHeld(byte) && KeyOf(byte) != nullptr && polledMs > kLatchedPressMs) {
      findings.push_back(LatchedPress(run, shown, i));
    }
    armed = armed || IsHeld(byte);
  }
  return findings;
}

}  // namespace explain
}  // namespace kolvane
