// The lines of a running session, handed to one writer thread. The module's
// poll thread (OnKey, the set-up's register calls) and the driver (steps)
// only put an event into a fixed ring and return: a slow terminal or pipe
// never delays a poll. A full ring drops the event and counts it.
#ifndef KOLVANE_HOST_OUTPUT_QUEUE_H
#define KOLVANE_HOST_OUTPUT_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "host/report/session_output.h"
#include "host/report/session_record.h"

namespace kolvane {
namespace host {

// Enough for a minute of a stalled terminal at the busiest a remote gets.
constexpr size_t kOutputQueueCapacity = 4096;

class OutputQueue {
 public:
  // `output` must outlive the queue. `capacity` is rounded up to a power of 2.
  explicit OutputQueue(SessionOutput* output, size_t capacity = kOutputQueueCapacity);
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;
  ~OutputQueue();

  // Starts the writer thread; events put before are written once it runs.
  void Start();
  // Any thread, never blocking: false when the ring was full and the event
  // was dropped (and counted).
  bool Action(int64_t us, const std::string& text);
  bool Key(const KeyReport& report);
  bool Register(const RegisterRecord& record);
  // Writes every event put so far, then ends the writer thread. The output
  // is the caller's again afterwards.
  void Close();

  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  enum class Kind { kAction, kKey, kRegister };
  struct Event {
    Kind kind = Kind::kAction;
    int64_t us = 0;
    std::string text;
    KeyReport key{};
    RegisterRecord access{};
  };
  // A slot is free for the producer whose ticket equals `sequence`, and
  // ready for the writer when `sequence` is that ticket + 1.
  struct Slot {
    std::atomic<size_t> sequence{0};
    Event event;
  };

  template <typename Fill>
  bool Put(Fill fill);
  // Writes what is ready; false when nothing was.
  bool WriteReady();
  void Writer();

  SessionOutput* const output_;
  const size_t mask_;
  std::unique_ptr<Slot[]> slots_;
  std::atomic<size_t> tail_{0};  // the next producer's ticket
  size_t head_ = 0;              // the writer's next ticket
  std::atomic<uint64_t> dropped_{0};
  std::atomic<bool> closing_{false};
  std::thread writer_;
};

}  // namespace host
}  // namespace kolvane

#endif  // KOLVANE_HOST_OUTPUT_QUEUE_H
