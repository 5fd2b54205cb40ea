#pragma once

#include <chrono>
#include <optional>

namespace zelwik {

// A frame and its reply take about 0.5 ms on the wire; eight times that means something holds the
// replies back, most often a USB adapter's latency timer.
inline constexpr double kSlowExchangeMs = 4.0;

// The time one frame-and-reply exchange takes, over an operation's first exchanges.
class PaceMeter {
 public:
  static constexpr int kExchanges = 16;
  using Clock = std::chrono::steady_clock;

  // Called as each frame's reply starts to be awaited. Returns the mean time of an exchange, in
  // milliseconds, once: when the first kExchanges have been timed.
  std::optional<double> Exchange(Clock::time_point now) {
    if (seen_ > kExchanges) return std::nullopt;
    if (seen_++ == 0) first_ = now;
    if (seen_ <= kExchanges) return std::nullopt;
    return std::chrono::duration<double, std::milli>(now - first_).count() / kExchanges;
  }

 private:
  int seen_ = 0;
  Clock::time_point first_;
};

}  // namespace zelwik
