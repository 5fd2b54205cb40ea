#pragma once

#include <atomic>
#include <exception>

namespace zelwik {

// A request to stop the running operation, made from another thread, a signal handler or a
// console handler, and taken by the link before its next frame.
class CancelToken {
 public:
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
  void Reset() noexcept { requested_.store(false, std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<bool>::is_always_lock_free, "Request() runs in signal handlers");
  std::atomic<bool> requested_{false};
};

// Thrown by the link instead of sending a frame once the operation was asked to stop.
class OperationCancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "operation cancelled"; }
};

}  // namespace zelwik
