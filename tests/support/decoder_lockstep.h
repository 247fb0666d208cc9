// Drives the real decoder and its model side by side, poll by poll, on a
// virtual clock that the sink's time moves on between the decoder's two
// reads. Stops at the first poll where the two differ in what they report or
// in the state they keep, and can print the whole run up to there.
#ifndef KOLVANE_TESTBED_DECODER_LOCKSTEP_H
#define KOLVANE_TESTBED_DECODER_LOCKSTEP_H

#include <stdint.h>

#include <cstdio>
#include <string>
#include <vector>

#include "receiver/key_decoder.h"
#include "tests/support/decoder_model.h"

namespace kolvane {
namespace model {

// How often a run met the cases that matter, so a test can tell that its
// random runs reached them.
struct Coverage {
  uint64_t presses = 0;
  uint64_t repeats = 0;
  uint64_t heldAt200 = 0;       // held byte unchanged, exactly 200 ms after the mark
  uint64_t heldAt201 = 0;       // the same, 201 ms after
  uint64_t heldAcrossWrap = 0;  // held byte unchanged, tick wrapped since the mark

  void Add(const Coverage& other) {
    presses += other.presses;
    repeats += other.repeats;
    heldAt200 += other.heldAt200;
    heldAt201 += other.heldAt201;
    heldAcrossWrap += other.heldAcrossWrap;
  }
};

class DecoderLockstep {
 public:
  DecoderLockstep(uint32_t startTick, RepeatClock clock)
      : decoder_(startTick), model_(startTick, clock), nowMs_(startTick), startTick_(startTick) {}

  // One poll `stepMs` after the previous clock read; the report (if any) and
  // the read of the tick after it take `sinkMs`. Returns false on the first
  // difference. A 32-bit tick counter cannot tell intervals a whole period
  // apart, so a step is shortened to keep the timer's age below 2^32 ms.
  bool Poll(uint32_t byte, uint32_t stepMs, uint32_t sinkMs) {
    const uint64_t maxAge = 0xFFFFFFFFull;
    uint64_t now = nowMs_ + stepMs;
    if (now - model_.markMs() > maxAge) now = model_.markMs() + maxAge;
    uint64_t after = now + sinkMs;
    if (after - model_.markMs() > maxAge) after = model_.markMs() + maxAge;

    Count(byte, now);
    uint64_t clock = now;  // the sink's time passes while it takes the poll
    const KeyDecoder::PollResult result = decoder_.Poll(
        byte, [&] { return Tick(clock); }, [&](const KeyDecoder::PollResult&, uint32_t) { clock = after; });
    const Report expected = model_.Poll(static_cast<int>(byte), now, after);
    if (expected.made) ++((byte & 1) != 0 ? coverage_.repeats : coverage_.presses);
    nowMs_ = after;

    Entry entry{byte,
                Tick(now),
                Tick(after),
                expected,
                Report{result.report, result.code},
                decoder_.lastByte(),
                decoder_.markTick()};
    entry.differs = expected.made != result.report || (expected.made && expected.code != result.code) ||
                    decoder_.lastByte() != model_.lastByte() || decoder_.markTick() != Tick(model_.markMs());
    history_.push_back(entry);
    return !entry.differs;
  }

  uint64_t nowMs() const { return nowMs_; }
  uint64_t markMs() const { return model_.markMs(); }
  const Coverage& coverage() const { return coverage_; }

  // The run so far, one poll a line, the differing poll marked.
  std::string Trace() const {
    std::string text = "start tick " + Hex(startTick_) + "\n";
    for (const Entry& e : history_) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "%s byte 0x%02X at %08X (after %08X): model %s, decoder %s; decoder lastByte %d mark %08X\n",
                    e.differs ? ">>" : "  ", e.byte, e.tick, e.after, Describe(e.expected).c_str(),
                    Describe(e.actual).c_str(), e.lastByte, e.mark);
      text += line;
    }
    const Entry* last = history_.empty() ? nullptr : &history_.back();
    if (last != nullptr && last->differs) {
      char line[120];
      std::snprintf(line, sizeof line, "   model lastByte %d mark %08X\n", model_.lastByte(), Tick(model_.markMs()));
      text += line;
    }
    return text;
  }

 private:
  struct Entry {
    uint32_t byte;
    uint32_t tick;
    uint32_t after;
    Report expected;
    Report actual;
    int32_t lastByte;
    uint32_t mark;
    bool differs = false;
  };

  void Count(uint32_t byte, uint64_t now) {
    const bool held = (byte & 1) != 0;
    const bool unchanged = static_cast<int>(byte) == model_.lastByte();
    if (!held || !unchanged) return;
    const uint64_t age = now - model_.markMs();
    if (age == 200) ++coverage_.heldAt200;
    if (age == 201) ++coverage_.heldAt201;
    if (Tick(now) < Tick(model_.markMs())) ++coverage_.heldAcrossWrap;
  }

  static uint32_t Tick(uint64_t ms) { return static_cast<uint32_t>(ms); }
  static std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
  }
  static std::string Describe(const Report& report) {
    if (!report.made) return "nothing";
    char text[24];
    std::snprintf(text, sizeof text, "code 0x%02X", report.code);
    return text;
  }

  KeyDecoder decoder_;
  DecoderModel model_;
  uint64_t nowMs_;
  uint32_t startTick_;
  std::vector<Entry> history_;
  Coverage coverage_;
};

}  // namespace model
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_DECODER_LOCKSTEP_H
