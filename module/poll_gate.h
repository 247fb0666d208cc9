// How a poll thread and its module object let go of each other, lock-free.
//
// Normally Stop signals the stop event and the thread ends within one poll.
// But a host call on the poll thread can block past Stop's bounded wait, and
// Stop (or the last Release) can be called from inside OnKey on the poll
// thread itself. For those cases the thread does all its work that touches
// the host's objects or the stop event inside sections, Enter() to Leave(),
// and Stop calls Abandon() once it is done waiting:
//   - after Abandon() no section starts, so the thread makes no further call
//     into the sink or the host object and leaves the event alone; a call
//     already under way finishes, and the thread then gives back the one
//     reference it still holds, its register interface (one Release);
//   - the stop event is closed by Stop, or by the thread when Abandon()
//     found it inside a section (it may be testing the event right then);
//   - the object's memory outlives the thread: if the last reference goes
//     while the thread lives, Orphan() hands the delete to the thread, which
//     performs it after Exit();
//   - Start stores the thread handle after the thread is running, then
//     Publish()es it; a Stop on the poll thread itself (from inside a host
//     call) may close the handle only once published, else Start does.
// Every transition is one atomic read-modify-write on one word.
#ifndef KOLVANE_MODULE_POLL_GATE_H
#define KOLVANE_MODULE_POLL_GATE_H

#include <stdint.h>

#include <atomic>

namespace kolvane {

class PollGate {
 public:
  // Host thread, just before the thread is created.
  void Arm() { state_.store(kLive, std::memory_order_release); }
  // Host thread: thread creation failed.
  void Disarm() { state_.store(0, std::memory_order_release); }
  // Host thread: a thread has been started and has not yet exited.
  bool IsLive() const { return (state_.load(std::memory_order_acquire) & kLive) != 0; }

  // Poll thread: false once abandoned; then nothing may be touched.
  bool Enter() {
    uint32_t state = state_.load(std::memory_order_acquire);
    do {
      if ((state & kAbandoned) != 0) return false;
    } while (!state_.compare_exchange_weak(state, state | kBusy, std::memory_order_acq_rel));
    return true;
  }
  // Poll thread: false when abandoned during the section; the thread then
  // owns (and must close) the stop event.
  bool Leave() { return (state_.fetch_and(~kBusy, std::memory_order_acq_rel) & kAbandoned) == 0; }
  // Poll thread, last act: true when the object was orphaned meanwhile and
  // the thread must delete it.
  bool Exit() { return (state_.fetch_and(~kLive, std::memory_order_acq_rel) & kOrphaned) != 0; }

  // Host thread, once the thread handle is stored: true when a Stop on the
  // poll thread came first, and the handle is the caller's to close.
  bool Publish() { return (state_.fetch_or(kPublished, std::memory_order_acq_rel) & kAbandoned) != 0; }

  struct Abandoned {
    bool threadClosesEvent;  // the thread was inside a section
    bool handlePublished;    // the thread handle may be read and closed
  };
  // Host thread (or the poll thread, from inside a section): no section may
  // start from now on.
  Abandoned Abandon() {
    const uint32_t before = state_.fetch_or(kAbandoned, std::memory_order_acq_rel);
    return Abandoned{(before & kBusy) != 0, (before & kPublished) != 0};
  }
  // Last reference gone: true when the thread still lives and will delete.
  bool Orphan() { return (state_.fetch_or(kOrphaned, std::memory_order_acq_rel) & kLive) != 0; }

 private:
  static constexpr uint32_t kLive = 1u << 0;
  static constexpr uint32_t kBusy = 1u << 1;
  static constexpr uint32_t kAbandoned = 1u << 2;
  static constexpr uint32_t kOrphaned = 1u << 3;
  static constexpr uint32_t kPublished = 1u << 4;

  std::atomic<uint32_t> state_{0};
};

}  // namespace kolvane

#endif  // KOLVANE_MODULE_POLL_GATE_H
