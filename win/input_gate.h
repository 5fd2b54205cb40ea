#pragma once

#include <cstdint>

namespace zelwik::win {

// Which input the window drops as the last operation's: input stamped from the operation's start
// to its end, which may come out of the queue only after the end, behind the message that ended
// it. Times are the system's 32-bit millisecond count (GetTickCount, MSG::time), which wraps
// every 49.7 days and is past 2^31 after 24.9 days of uptime: they are told apart by their
// distance from the start, never by their order as numbers.
class InputGate {
 public:
  void Started(std::uint32_t now) {
    start_ = end_ = now;
    running_ = true;
  }
  // An end whose start went unseen drops nothing.
  void Ended(std::uint32_t now) {
    if (!running_) start_ = now;
    end_ = now;
    running_ = false;
  }
  bool Running() const { return running_; }
  bool Drops(std::uint32_t inputTime) const {
    const std::uint32_t sinceStart = inputTime - start_;
    if (running_) return sinceStart < 0x80000000u;
    return sinceStart < static_cast<std::uint32_t>(end_ - start_);
  }

 private:
  std::uint32_t start_ = 0;
  std::uint32_t end_ = 0;  // start_ to end_ is empty until an operation ends
  bool running_ = false;
};

}  // namespace zelwik::win
