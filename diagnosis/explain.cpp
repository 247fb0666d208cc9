#include "diagnosis/explain.h"

#include <stdio.h>

#include <algorithm>
#include <map>

#include "diagnosis/explain_presses.h"
#include "diagnosis/showings.h"
#include "receiver/device.h"
#include "receiver/key_decoder.h"
#include "receiver/remote_keys.h"
#include "text/printable.h"
#include "trace/format.h"
#include "trace/recorder.h"

namespace kolvane {
namespace {

constexpr int kBitsInByte = 8;
// Late polls right after reports blame OnKey when they were on average at
// least this many times later than the others.
constexpr int64_t kOnKeyBlameFactor = 2;

using explain::AddEvidence;
using explain::ByteText;
using explain::CodeOf;
using explain::Hex;
using explain::IsHeld;
using explain::KeyOf;
using explain::Milliseconds;
using explain::Shown;

// The device's numbers as the texts name them, from receiver/device.h.
std::string Register(uint32_t offset) { return Hex(offset); }
std::string IdleByte() { return Hex(kIdleReceiverByte); }
std::string HeldBitText() { return "the held bit (bit " + std::to_string(kHeldBitIndex) + ")"; }
std::string ReceiverByteBits() {
  return "bits " + std::to_string(kReceiverByteShift) + "-" + std::to_string(kReceiverByteShift + kBitsInByte - 1);
}

int BitsApart(uint32_t a, uint32_t b) {
  int bits = 0;
  for (uint32_t diff = a ^ b; diff != 0; diff &= diff - 1) ++bits;
  return bits;
}

// --- the findings, one function each ----------------------------------------

Finding NoPolls(const TraceRun& run) {
  Finding finding(FindingKind::kNoPolls);
  if (run.endLine != 0) {
    finding.summary = "The module never polled the receiver: the run ended " + TraceTime(run.endMs) +
                      " after it began without one read of register " + Register(kRegisterReceiver) + ".";
    AddEvidence(
        &finding, run.endLine, run.endMs,
        std::string("the run ended") + (run.givenUp ? ", given up by Stop" : "") + ", with no byte line before it");
  } else {
    finding.summary = "The module never polled the receiver: the run has no byte line and no end.";
    AddEvidence(&finding, run.headerLine, -1, "the run's header, and nothing after it");
  }
  if (run.givenUp) {
    finding.cause = "The register set-up held the thread: the host's ReadRegister or WriteRegister did not return.";
    finding.action = "Find why the host's register access blocks; the module sets up " + Register(kRegisterControl) +
                     ", " + Register(kRegisterGpio) + " and " + Register(kRegisterReceiver) + " first.";
  } else {
    finding.cause =
        "The host object gave no register access (its QueryInterface(IID_IDeviceRegisters) failed), or the "
        "application stopped the module before its first poll, one poll period after Start.";
    finding.action =
        "Check that the host object passed to Start answers IID_IDeviceRegisters, and that the application does not "
        "stop the module right after starting it.";
  }
  return finding;
}

Finding NoHeldBitByte(const std::vector<Shown>& shown) {
  Finding finding(FindingKind::kNoHeldBitByte);
  finding.summary = "No key could be reported: the receiver never showed a byte with " + HeldBitText() +
                    " set (the idle receiver shows " + IdleByte() +
                    "), and the module reports nothing until it has seen one.";
  AddEvidence(&finding, shown.front().line, shown.front().startMs,
              "the first poll read " + ByteText(shown.front().byte));
  // The first byte is the card's idle, whatever key shares its code.
  for (size_t i = 1; i < shown.size(); ++i) {
    if (KeyOf(shown[i].byte) == nullptr || shown[i].byte == shown.front().byte) continue;
    AddEvidence(&finding, shown[i].line, shown[i].startMs,
                ByteText(shown[i].byte) + " for " + Milliseconds(shown[i].ms) + ": a press, not reported");
  }
  finding.cause = "The card's idle receiver reads " + Hex(shown.front().byte) + " instead of " + IdleByte() +
                  "; or the host's ReadRegister leaves the value unfilled, which the module reads as " + Hex(0) + ".";
  finding.action = "Check that the host's ReadRegister(" + Register(kRegisterReceiver) +
                   ") fills in this card's register, with the receiver byte in " + ReceiverByteBits() +
                   ", and that the receiver reads " + IdleByte() + " while no button is down.";
  return finding;
}

Finding ByteNeverChanged(const TraceRun& run, const Shown& only, uint64_t polls) {
  Finding finding(FindingKind::kByteNeverChanged);
  finding.summary = "The receiver byte never changed: every poll, about " + std::to_string(polls) + " over " +
                    TraceTime(only.ms) + ", read " + ByteText(only.byte) + ".";
  AddEvidence(&finding, only.line, only.startMs,
              ByteText(only.byte) + (only.lastLine != only.line ? " from here to line " + std::to_string(only.lastLine)
                                                                : std::string(" throughout")));
  if (run.endLine != 0) AddEvidence(&finding, run.endLine, run.endMs, "the run ended");
  finding.cause =
      "If buttons were pressed during this run, the card's receiver is not delivering them, or the host's register "
      "access reads another device or register.";
  finding.action = "Press a button while tracing and check that the host's ReadRegister(" +
                   Register(kRegisterReceiver) +
                   ") reaches this card's receiver; try the card's own remote close to the receiver.";
  return finding;
}

// Who sent a code of no key: the keys nearest to it by differing bits, and
// what its count suggests. A bit error is random: one code once, close to a
// key. The same code again and again is a button that sends it.
void ExplainSender(uint32_t code, size_t times, Finding* finding) {
  int nearest = kBitsInByte + 1;
  std::vector<const RemoteKey*> keys;
  for (const RemoteKey& key : RemoteKeyTable) {
    const int bits = BitsApart(code, key.code);
    if (bits < nearest) keys.clear();
    if (bits <= nearest) {
      nearest = bits;
      keys.push_back(&key);
    }
  }
  std::string cause = "The nearest key is ";
  for (size_t i = 0; i < keys.size(); ++i) {
    cause += i == 0 ? "" : i + 1 == keys.size() ? " or " : ", ";
    cause += keys[i]->name;
    cause += " (" + Hex(keys[i]->code) + ")";
  }
  cause += ", " + Count(static_cast<size_t>(nearest), "bit", "bits") + " apart";
  if (nearest <= kBitErrorMaxBits && times == 1) {
    finding->cause = cause + ": most likely a bit error on the way.";
    finding->action =
        "Check the remote's batteries, its distance and aim, and light falling on the receiver; press the button "
        "again.";
    return;
  }
  if (times > 1) cause += ", and the code came back";
  finding->cause =
      cause + ": most likely another remote's button (another device's, or a universal remote set to other codes).";
  finding->action = "Use the card's own remote, or set the universal remote to this card's codes.";
}

// Codes of no key, after the first byte with the held bit set (before it, the
// decoder takes nothing). A press and its held state count once.
std::vector<Finding> UnknownCodes(const std::vector<Shown>& shown) {
  std::vector<uint32_t> order;
  std::map<uint32_t, std::vector<const Shown*>> seen;
  bool armed = false;
  for (size_t i = 0; i < shown.size(); ++i) {
    const uint32_t byte = shown[i].byte;
    const bool continues = i > 0 && CodeOf(shown[i - 1].byte) == CodeOf(byte);
    if (armed && byte != kIdleReceiverByte && KeyOf(byte) == nullptr && !continues) {
      if (seen.find(CodeOf(byte)) == seen.end()) order.push_back(CodeOf(byte));
      seen[CodeOf(byte)].push_back(&shown[i]);
    }
    armed = armed || IsHeld(byte);
  }
  std::vector<Finding> findings;
  for (uint32_t code : order) {
    const std::vector<const Shown*>& times = seen[code];
    Finding finding(FindingKind::kUnknownCode);
    finding.summary = "Code " + Hex(code) + " is no key of this remote: the receiver showed it " +
                      Count(times.size(), "time", "times") + ", and the module reported nothing for it.";
    for (const Shown* at : times) {
      AddEvidence(&finding, at->line, at->startMs, Hex(at->byte) + " for " + Milliseconds(at->ms));
    }
    ExplainSender(code, times.size(), &finding);
    findings.push_back(finding);
  }
  return findings;
}

// One key's code on the receiver, its press and its held state, over
// shown[begin, end): how long, and whether it was held.
struct KeySpell {
  const RemoteKey* key;  // null for idle or a code of no key
  size_t begin;
  size_t end;
  int64_t ms;
  bool held;
};

KeySpell SpellAt(const std::vector<Shown>& shown, size_t begin) {
  const RemoteKey* key = shown[begin].byte == kIdleReceiverByte ? nullptr : KeyOf(shown[begin].byte);
  KeySpell spell{key, begin, begin + 1, shown[begin].ms, IsHeld(shown[begin].byte)};
  while (key != nullptr && spell.end < shown.size() && CodeOf(shown[spell.end].byte) == key->code) {
    spell.held = spell.held || IsHeld(shown[spell.end].byte);
    spell.ms += shown[spell.end++].ms;
  }
  return spell;
}

// The repeats of `name` reported between the lines `after` and `before`.
size_t RepeatsBetween(const TraceRun& run, const char* name, int after, int before) {
  size_t repeats = 0;
  for (const TracedReport& report : run.reports) {
    repeats += report.repeat && report.name == name && report.line > after && report.line < before ? 1 : 0;
  }
  return repeats;
}

Finding StuckKey(const TraceRun& run, const std::vector<Shown>& shown, const KeySpell& spell) {
  const int before = spell.begin > 0 ? shown[spell.begin - 1].lastLine : run.headerLine;
  const size_t repeats = RepeatsBetween(run, spell.key->name, before, shown[spell.end - 1].lastLine);
  Finding finding(FindingKind::kStuckKey);
  finding.summary = std::string(spell.key->name) + " was held for " + TraceTime(spell.ms) +
                    ", far longer than a person holds a button: a stuck button, or something lying on the remote.";
  for (size_t j = spell.begin; j < spell.end; ++j) {
    AddEvidence(&finding, shown[j].line, shown[j].startMs, ByteText(shown[j].byte) + " for " + TraceTime(shown[j].ms));
  }
  if (spell.end < shown.size()) {
    AddEvidence(&finding, shown[spell.end].line, shown[spell.end].startMs,
                "released: " + ByteText(shown[spell.end].byte));
  }
  finding.cause = "While it lasted the module repeated the key about every " + Milliseconds(kRepeatDelayMs) + ": " +
                  Count(repeats, "repeat", "repeats") + " here.";
  finding.action = "Look for a jammed button on the remote, or something pressing on it.";
  return finding;
}

// A key's code on the receiver (its press, then its held state) for longer
// than a person holds a button.
std::vector<Finding> StuckKeys(const TraceRun& run, const std::vector<Shown>& shown) {
  std::vector<Finding> findings;
  for (size_t i = 0; i < shown.size();) {
    const KeySpell spell = SpellAt(shown, i);
    // Held: the remote kept sending the key's held state. (A code with the
    // held bit clear that stays is a receiver that keeps its last byte, or
    // 0x00.)
    if (spell.key != nullptr && spell.held && spell.ms > kStuckKeyMs) findings.push_back(StuckKey(run, shown, spell));
    i = spell.end;
  }
  return findings;
}

// The late polls, the longest first; the first kMaxEvidence of them, the
// evidence, then in the trace's order.
std::vector<const TracedLatePoll*> LongestFirst(const TraceRun& run) {
  std::vector<const TracedLatePoll*> byLength;
  for (const TracedLatePoll& late : run.latePolls) byLength.push_back(&late);
  std::stable_sort(byLength.begin(), byLength.end(),
                   [](const TracedLatePoll* a, const TracedLatePoll* b) { return a->lateMs > b->lateMs; });
  const size_t listed = std::min(byLength.size(), kMaxEvidence);
  std::sort(byLength.begin(), byLength.begin() + static_cast<ptrdiff_t>(listed),
            [](const TracedLatePoll* a, const TracedLatePoll* b) { return a->line < b->line; });
  return byLength;
}

// What held the late polls, counted: the run's first poll (the register
// set-up), a poll right after a report (OnKey), or neither.
struct LateTally {
  size_t afterReport = 0;
  size_t atSetup = 0;
  int64_t totalMs = 0;
  int64_t afterReportMs = 0;
  int64_t otherMs = 0;
};

// Counts `late` into `tally` and returns its evidence text.
std::string TallyLatePoll(const TracedLatePoll& late, const std::map<int64_t, const TracedReport*>& reportAt,
                          LateTally* tally) {
  tally->totalMs += late.lateMs;
  // The poll before it: a period and the delay earlier.
  const int64_t previous = late.ms - late.lateMs - kPollPeriodMs;
  const auto report = reportAt.find(previous);
  std::string text = "poll " + Milliseconds(late.lateMs) + " late";
  if (previous <= 0) {
    ++tally->atSetup;
    tally->otherMs += late.lateMs;
    text += ", the run's first: the register set-up held it";
  } else if (report != reportAt.end()) {
    ++tally->afterReport;
    tally->afterReportMs += late.lateMs;
    text += ", right after " + Printable(report->second->name) + " " +
            (report->second->repeat ? kTraceRepeat : kTraceFresh) + " at " + TraceTime(previous) + " (line " +
            std::to_string(report->second->line) + ")";
  } else {
    tally->otherMs += late.lateMs;
  }
  return text;
}

// OnKey is to blame when the polls after reports were late by far the
// most; a busy machine delays a poll after a report now and then too.
bool BlamesOnKey(const LateTally& tally, size_t count) {
  const size_t others = count - tally.afterReport;
  return tally.afterReport > 0 &&
         (others == 0 || tally.afterReportMs * static_cast<int64_t>(others) >=
                             kOnKeyBlameFactor * tally.otherMs * static_cast<int64_t>(tally.afterReport));
}

std::string LatePollsCause(const LateTally& tally, size_t count, bool onKey) {
  std::string cause;
  if (tally.afterReport > 0) {
    cause += std::to_string(tally.afterReport) + " of " + std::to_string(count) +
             " came right after a report: the host's " +
             (onKey ? "OnKey held the poll thread" : "OnKey may have held the poll thread") +
             ", and the next poll waits for it. ";
  }
  if (tally.atSetup > 0)
    cause += "The first poll waited for the register set-up: the host's register access was slow. ";
  if (tally.afterReport + tally.atSetup < count) {
    cause += std::to_string(count - tally.afterReport - tally.atSetup) + " of " + std::to_string(count) +
             " came after no report: the host's ReadRegister was slow, or the machine stalled. ";
  }
  return cause.substr(0, cause.size() - 1);
}

Finding LatePolls(const TraceRun& run) {
  Finding finding(FindingKind::kLatePolls);
  std::map<int64_t, const TracedReport*> reportAt;
  for (const TracedReport& report : run.reports) reportAt[report.ms] = &report;
  const std::vector<const TracedLatePoll*> byLength = LongestFirst(run);
  const TracedLatePoll* longest = byLength.front();
  for (const TracedLatePoll* late : byLength) {
    if (late->lateMs > longest->lateMs) longest = late;
  }
  LateTally tally;
  for (size_t i = 0; i < byLength.size(); ++i) {
    const std::string text = TallyLatePoll(*byLength[i], reportAt, &tally);
    AddEvidence(&finding, byLength[i]->line, byLength[i]->ms, text);
  }
  const size_t count = run.latePolls.size();
  finding.summary = Count(count, "poll", "polls") + " came late, the longest " + Milliseconds(longest->lateMs) +
                    " late at " + TraceTime(longest->ms) + " (line " + std::to_string(longest->line) +
                    "): the poll thread was held.";
  finding.cost = "For up to " + Milliseconds(longest->lateMs + kPollPeriodMs) + " at a time (" +
                 Milliseconds(tally.totalMs) +
                 " in all) no poll read the receiver: a press shorter than that could come and go unseen.";
  const bool onKey = BlamesOnKey(tally, count);
  finding.cause = LatePollsCause(tally, count, onKey);
  finding.action = onKey ? "Return from OnKey at once: note the key and do the work (drawing, logging, switching "
                           "channels) on a thread of your own."
                         : "Time the host's OnKey and ReadRegister, and look for what stalls the machine (load, "
                           "power saving).";
  return finding;
}

Finding GivenUp(const TraceRun& run) {
  Finding finding(FindingKind::kGivenUp);
  finding.summary =
      "Stop gave up waiting for the poll thread: a call into the host held the thread longer than Stop waits.";
  if (!run.reports.empty()) {
    const TracedReport& last = run.reports.back();
    AddEvidence(&finding, last.line, last.ms,
                "the last report, " + Printable(last.name) + " " + (last.repeat ? kTraceRepeat : kTraceFresh) +
                    ": if the thread was in its OnKey, that call never returned in time");
  }
  AddEvidence(&finding, run.endLine, run.endMs, "the run ended, given up by Stop");
  finding.cause = "The host's OnKey or its register access blocked: a lock, a dialog, a device that hangs.";
  finding.action =
      "Find the call that blocks and make it return; the module gives back its references when it does, but "
      "reports nothing more in this run.";
  return finding;
}

Finding CutBySizeCap(const TraceRun& run) {
  Finding finding(FindingKind::kCutBySizeCap);
  char cap[kTraceCapTextSize];
  FormatTraceCap(kTraceSizeCap, cap);
  finding.summary =
      std::string("The trace file reached its size cap of ") + cap + " in this run: what happened after is not in it.";
  AddEvidence(&finding, run.cutLine, -1, "the size cap's note");
  if (run.reportsAfterLastByteLine > 0) {
    AddEvidence(&finding, run.lastByteLine, -1,
                "the last whole byte line; " + Count(run.reportsAfterLastByteLine, "report", "reports") + " after it");
  }
  finding.action = "Move the trace file away (or delete it) and reproduce the problem: the module starts a new one.";
  return finding;
}

// The latest time a run's lines tell: the end of its last byte, its last
// report, its last late poll.
int64_t LastMs(const TraceRun& run, const std::vector<Shown>& shown) {
  int64_t ms = shown.empty() ? 0 : shown.back().startMs + shown.back().ms;
  for (const TracedReport& report : run.reports) ms = std::max(ms, report.ms);
  for (const TracedReport& report : run.reportsAfterLastByte) ms = std::max(ms, report.ms);
  for (const TracedLatePoll& late : run.latePolls) ms = std::max(ms, late.ms);
  return ms;
}

void DescribeEnd(const TraceRun& run, int64_t lastMs, Finding* finding) {
  const std::string last = std::to_string(run.lastLine);
  if (run.partialLine != 0) {
    finding->summary = run.partialLine == run.headerLine
                           ? std::string("The trace file ends in the middle of its first line: it holds no whole line.")
                           : "The trace file ends in the middle of line " + std::to_string(run.partialLine) +
                                 ": it was read up to its last whole line, line " + last + ", " + TraceTime(lastMs) +
                                 " into this run.";
    finding->cause =
        "The file is a partial copy: an upload or a copy that stopped early (a full disk), or the machine stopped "
        "while the module wrote that line.";
    finding->action = "Copy the trace again, whole, from the machine that wrote it, once the application has ended.";
    return;
  }
  finding->summary = "The run has no closing comment: its trace ends at line " + last + ", " + TraceTime(lastMs) +
                     " after the run began, without the line Stop writes.";
  finding->cause =
      "The application ended or crashed without stopping the module (Stop writes the closing comment), or the trace "
      "was copied while the application still ran.";
  finding->action = "If the application crashed, look at what it did about " + TraceTime(lastMs) +
                    " after this run began; else end the application before copying the trace.";
}

Finding EndedEarly(const TraceRun& run, const std::vector<Shown>& shown, size_t keys) {
  Finding finding(FindingKind::kEndedEarly);
  const int64_t lastMs = LastMs(run, shown);
  DescribeEnd(run, lastMs, &finding);
  const bool lastIsReport = !run.reportsAfterLastByte.empty() && run.reportsAfterLastByte.back().line == run.lastLine;
  if (!lastIsReport && run.lastLine != run.partialLine)
    AddEvidence(&finding, run.lastLine, lastMs, "the last whole line of the run");
  for (const TracedReport& report : run.reportsAfterLastByte) {
    AddEvidence(&finding, report.line, report.ms,
                explain::ReportText(report) + ", after the last byte line: its byte's line is missing");
  }
  if (run.partialLine != 0) AddEvidence(&finding, run.partialLine, -1, "cut in the middle, with no line end");
  finding.cost =
      "What happened after line " + std::to_string(run.lastLine) +
      " is not in the trace. Counted here is what its whole lines hold: " + Count(keys, "key", "keys") +
      (run.reportsAfterLastByte.empty() ? std::string()
                                        : ", " + Count(run.reportsAfterLastByte.size(), "report", "reports") +
                                              " after the last byte line among them") +
      ".";
  return finding;
}

uint64_t PollsAbout(const TraceRun& run) {
  uint64_t polls = 0;
  for (const TracedByteLine& byteLine : run.byteLines)
    polls += std::max<uint64_t>(1, (byteLine.ms + kPollPeriodMs / 2) / kPollPeriodMs);
  uint64_t missed = 0;
  for (const TracedLatePoll& late : run.latePolls) missed += late.lateMs / kPollPeriodMs;
  return std::max<uint64_t>(polls > missed ? polls - missed : 0, run.byteLines.size());
}

}  // namespace

const char* FindingName(FindingKind kind) {
  switch (kind) {
    case FindingKind::kNoPolls: return "no_polls";
    case FindingKind::kNoHeldBitByte: return "no_held_bit_byte";
    case FindingKind::kByteNeverChanged: return "byte_never_changed";
    case FindingKind::kUnknownCode: return "unknown_code";
    case FindingKind::kStuckKey: return "stuck_key";
    case FindingKind::kLatePolls: return "late_polls";
    case FindingKind::kGivenUp: return "given_up";
    case FindingKind::kCutBySizeCap: return "cut_by_size_cap";
    case FindingKind::kLatchedPress: return "latched_press";
    case FindingKind::kDoublePress: return "double_press";
    case FindingKind::kRepeatsNoPress: return "repeats_without_press";
    case FindingKind::kEndedEarly: return "ended_early";
  }
  return "";
}

std::string RunExplanation::Counts() const {
  return Count(fresh + repeats, "key", "keys") + " (" + std::to_string(fresh) + " " + kTraceFresh + ", " +
         Count(repeats, kTraceRepeat, "repeats") + "), about " + Count(polls, "poll", "polls") + " over " +
         TraceTime(ms);
}

namespace {

void Append(std::vector<Finding>* findings, const std::vector<Finding>& more) {
  findings->insert(findings->end(), more.begin(), more.end());
}

// What the receiver's bytes show, most important first.
void FindInBytes(const TraceRun& run, const std::vector<Shown>& shown, uint64_t polls, std::vector<Finding>* findings) {
  const bool anyHeld = std::any_of(shown.begin(), shown.end(), [](const Shown& s) { return IsHeld(s.byte); });
  if (!anyHeld) findings->push_back(NoHeldBitByte(shown));
  // A report says the receiver delivered something: a key's held state from
  // the first poll (its repeats are their own finding), or a change after
  // the last byte line of a run that ended early.
  const bool reported = !run.reports.empty() || !run.reportsAfterLastByte.empty();
  if (shown.size() == 1 && !reported) findings->push_back(ByteNeverChanged(run, shown.front(), polls));
  Append(findings, explain::LatchedPresses(run, shown));
  Append(findings, explain::DoublePresses(run, shown));
  Append(findings, explain::RepeatsWithoutPress(run, shown));
  Append(findings, UnknownCodes(shown));
  Append(findings, StuckKeys(run, shown));
}

}  // namespace

RunExplanation ExplainRun(const TraceRun& run) {
  RunExplanation explained;
  explained.headerLine = run.headerLine;
  const size_t kind = run.header.find(kTraceHeaderKind);
  if (kind != std::string::npos) {
    explained.started = Printable(run.header.substr(kind + sizeof kTraceHeaderKind - 1), kMaxPathEchoBytes);
  }
  for (const TracedReport& report : run.reports) ++(report.repeat ? explained.repeats : explained.fresh);
  // A run the cap cut lacks the byte lines of those after its last one; one
  // that ended early holds them all.
  if (!run.cut) {
    for (const TracedReport& report : run.reportsAfterLastByte) ++(report.repeat ? explained.repeats : explained.fresh);
  }
  explained.polls = PollsAbout(run);
  const std::vector<Shown> shown = explain::Showings(run);
  explained.ms = run.endLine != 0 ? run.endMs : LastMs(run, shown);

  std::vector<Finding>& findings = explained.findings;
  const bool endedEarly = !run.cut && (run.endLine == 0 || run.partialLine != 0);
  if (shown.empty() && !run.cut && run.partialLine == 0) findings.push_back(NoPolls(run));
  if (!shown.empty()) FindInBytes(run, shown, explained.polls, &findings);
  if (!run.latePolls.empty()) findings.push_back(LatePolls(run));
  if (run.givenUp && !shown.empty()) findings.push_back(GivenUp(run));
  if (run.cut) findings.push_back(CutBySizeCap(run));
  if (endedEarly) findings.push_back(EndedEarly(run, shown, explained.fresh + explained.repeats));
  return explained;
}

TraceExplanation ExplainTrace(const TraceReading& reading, const std::string& name) {
  TraceExplanation explanation;
  explanation.trace = name;
  for (const TraceRun& run : reading.runs) explanation.runs.push_back(ExplainRun(run));
  return explanation;
}

size_t TraceExplanation::RunsWithFindings() const {
  return static_cast<size_t>(
      std::count_if(runs.begin(), runs.end(), [](const RunExplanation& run) { return !run.findings.empty(); }));
}

size_t TraceExplanation::Findings() const {
  size_t findings = 0;
  for (const RunExplanation& run : runs) findings += run.findings.size();
  return findings;
}

std::string TraceExplanation::RunName(size_t index) const {
  if (runs.size() == 1) return trace;
  return "run " + std::to_string(index + 1) + " of " + std::to_string(runs.size()) + " (from line " +
         std::to_string(runs[index].headerLine) + ")";
}

}  // namespace kolvane
