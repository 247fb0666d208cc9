// A gate a host double can block on until the test opens it.
#ifndef KOLVANE_TESTS_SUPPORT_LATCH_H
#define KOLVANE_TESTS_SUPPORT_LATCH_H

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/support/wait.h"

namespace kolvane {
namespace test {

class Latch {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitForWaiter(std::chrono::milliseconds limit = kPatience) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return waiting_ > 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_LATCH_H
