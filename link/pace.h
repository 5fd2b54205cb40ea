#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

namespace zelwik {

// A frame and its reply take about 0.5 ms on the wire; eight times that means something holds the
// replies back, most often a USB adapter's latency timer.
inline constexpr double kSlowExchangeMs = 4.0;

// The time one frame-and-reply exchange takes, over an operation's first exchanges: the median,
// since one of them may be a chip erase that takes the programmer many milliseconds by itself.
class PaceMeter {
 public:
  static constexpr int kExchanges = 16;
  using Clock = std::chrono::steady_clock;

  // Called as each frame goes out, which is when the exchange before it has ended. Returns the
  // median exchange, in milliseconds, once: when kExchanges have been timed.
  std::optional<double> Exchange(Clock::time_point now) {
    if (seen_ > kExchanges) return std::nullopt;
    if (seen_ > 0)
      times_[seen_ - 1] = std::chrono::duration<double, std::milli>(now - last_).count();
    last_ = now;
    if (++seen_ <= kExchanges) return std::nullopt;
    std::sort(times_.begin(), times_.end());
    return (times_[kExchanges / 2 - 1] + times_[kExchanges / 2]) / 2;
  }

 private:
  int seen_ = 0;
  Clock::time_point last_;
  std::array<double, kExchanges> times_{};
};

}  // namespace zelwik
