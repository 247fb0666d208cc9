#include "host/session/output_queue.h"

#include <chrono>

namespace kolvane {
namespace host {
namespace {

// How long the writer sleeps when the ring is empty: output lags by at most
// this, and an idle session costs the writer a few wake-ups a poll.
constexpr std::chrono::milliseconds kWriterIdle{5};

size_t RoundUpToPowerOfTwo(size_t value) {
  size_t power = 1;
  while (power < value) power *= 2;
  return power;
}

}  // namespace

OutputQueue::OutputQueue(SessionOutput* output, size_t capacity)
    : output_(output), mask_(RoundUpToPowerOfTwo(capacity) - 1), slots_(new Slot[mask_ + 1]) {
  for (size_t i = 0; i <= mask_; ++i) slots_[i].sequence.store(i, std::memory_order_relaxed);
}

OutputQueue::~OutputQueue() { Close(); }

void OutputQueue::Start() {
  if (!writer_.joinable() && !closing_.load()) writer_ = std::thread([this] { Writer(); });
}

// A bounded ring for many producers and one consumer (after Dmitry Vyukov's
// bounded queue): a producer claims a ticket with one compare-and-swap and
// never waits for the writer.
template <typename Fill>
bool OutputQueue::Put(Fill fill) {
  size_t ticket = tail_.load(std::memory_order_relaxed);
  Slot* slot;
  for (;;) {
    slot = &slots_[ticket & mask_];
    const size_t sequence = slot->sequence.load(std::memory_order_acquire);
    const auto lead = static_cast<std::ptrdiff_t>(sequence - ticket);
    if (lead == 0) {
      if (tail_.compare_exchange_weak(ticket, ticket + 1, std::memory_order_relaxed)) break;
    } else if (lead < 0) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    } else {
      ticket = tail_.load(std::memory_order_relaxed);
    }
  }
  fill(slot->event);
  slot->sequence.store(ticket + 1, std::memory_order_release);
  return true;
}

bool OutputQueue::Action(int64_t us, const std::string& text) {
  return Put([&](Event& event) {
    event.kind = Kind::kAction;
    event.us = us;
    event.text = text;
  });
}

bool OutputQueue::Key(const KeyReport& report) {
  return Put([&](Event& event) {
    event.kind = Kind::kKey;
    event.key = report;
  });
}

bool OutputQueue::Register(const RegisterRecord& record) {
  return Put([&](Event& event) {
    event.kind = Kind::kRegister;
    event.access = record;
  });
}

bool OutputQueue::WriteReady() {
  bool wrote = false;
  for (;;) {
    Slot& slot = slots_[head_ & mask_];
    if (slot.sequence.load(std::memory_order_acquire) != head_ + 1) return wrote;
    const Event& event = slot.event;
    switch (event.kind) {
      case Kind::kAction: output_->Action(event.us, event.text); break;
      case Kind::kKey: output_->Key(event.key); break;
      case Kind::kRegister: output_->Register(event.access); break;
    }
    // Free for the producer one lap ahead; the strings keep their storage.
    slot.sequence.store(head_ + mask_ + 1, std::memory_order_release);
    ++head_;
    wrote = true;
  }
}

void OutputQueue::Writer() {
  while (!closing_.load()) {
    if (!WriteReady()) std::this_thread::sleep_for(kWriterIdle);
  }
  WriteReady();
}

void OutputQueue::Close() {
  closing_.store(true);
  if (writer_.joinable()) {
    writer_.join();
  } else {
    WriteReady();  // never started: written here, on the closing thread
  }
}

}  // namespace host
}  // namespace kolvane
