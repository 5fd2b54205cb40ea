#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "ops/view.h"

namespace zelwik::cli {

// A progress line on a terminal: bytes done, total, rate, and the time taken and left at the pace
// so far, redrawn at most ten times a second.
class ProgressBar {
 public:
  explicit ProgressBar(std::ostream* terminal) : terminal_(terminal) {}
  void Start(int total);
  void Update(int done);
  // Removes the line so that other output starts at the left margin; no more drawing until Start.
  void Stop();
  // Removes the line for a message; the next Update draws it again.
  void Clear();

 private:
  void Draw(int done);
  std::ostream* terminal_;  // nullptr: draw nothing
  bool active_ = false;
  bool drawn_ = false;
  int total_ = 0;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

// Says once, when the link turns out slow, what a byte takes, what the whole operation will take,
// and how this system makes the adapter fast.
class SlowLinkWarning {
 public:
  using Clock = std::chrono::steady_clock;
  // Bytes of the transfer timed before the estimate is made.
  static constexpr int kBytesTimed = 8;

  SlowLinkWarning(std::ostream& err, std::string advice)
      : err_(err), advice_(std::move(advice)), start_(Clock::now()) {}
  void OperationStarts() { start_ = Clock::now(); }
  // The view's notices; true when the warning was just written.
  bool Pace(double msPerExchange);
  bool TransferStarts(int total);
  bool TransferAt(int done);

 private:
  bool Warn();
  std::ostream& err_;
  std::string advice_;
  Clock::time_point start_, transferStart_;
  double exchangeMs_ = 0;  // 0: not slow, or not yet known
  int total_ = 0, done_ = 0;
  bool warned_ = false;
};

// The operations' view on the command line: every non-empty status text on its own line, no
// pauses, the listing only when asked for.
class ConsoleView : public View {
 public:
  ConsoleView(std::ostream& out, ProgressBar& progress, bool printListing,
              SlowLinkWarning* slowLink = nullptr)
      : out_(out), progress_(progress), printListing_(printListing), slowLink_(slowLink) {}

  void SetStatus(const std::string& text) override;
  void ClearLog() override {}
  void AddLogLine(const std::string& line) override;
  void SetGaugeMax(int max) override;
  void SetGaugeProgress(int position) override;
  void Pause(int) override {}
  void LinkPace(double msPerExchange) override;

 private:
  std::ostream& out_;
  ProgressBar& progress_;
  bool printListing_;
  SlowLinkWarning* slowLink_;
};

}  // namespace zelwik::cli
