#pragma once

#include <atomic>
#include <thread>

namespace zelwik {

// Who hands an open port's line back as it was found: the port's Close, or a process ending at
// once (SerialPort::RestoreLineNow) from a signal handler or another thread, whichever comes
// first. Close waits out a restore that has begun, so the descriptor or handle is never freed, or
// given to the next open, under it. Lock-free, for the signal handler's sake.
class LineClaim {
 public:
  // The port is open and its line ours to hand back.
  void Take() { state_.store(kOwned); }
  bool Owned() const { return state_.load() == kOwned; }

  // For the restore: true once, unless Close came first. Restored() follows the restore.
  bool BeginRestore() {
    int owned = kOwned;
    return state_.compare_exchange_strong(owned, kRestoring);
  }
  void Restored() { state_.store(kRestored); }

  // For Close: true when the line is still Close's own to restore. Returns only once no restore
  // is running.
  bool BeginClose() {
    int owned = kOwned;
    if (state_.compare_exchange_strong(owned, kClosed)) return true;
    while (state_.load() == kRestoring) std::this_thread::yield();
    state_.store(kClosed);
    return false;
  }

 private:
  static constexpr int kClosed = 0, kOwned = 1, kRestoring = 2, kRestored = 3;
  std::atomic<int> state_{kClosed};
};

}  // namespace zelwik
