#pragma once

#include <chrono>
#include <ostream>

#include "ops/view.h"

namespace zelwik::cli {

// A progress line on a terminal: bytes done, total and rate, redrawn at most ten times a second.
class ProgressBar {
 public:
  explicit ProgressBar(std::ostream* terminal) : terminal_(terminal) {}
  void Start(int total);
  void Update(int done);
  // Removes the line so that other output starts at the left margin; no more drawing until Start.
  void Stop();

 private:
  void Draw(int done);
  std::ostream* terminal_;  // nullptr: draw nothing
  bool active_ = false;
  bool drawn_ = false;
  int total_ = 0;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};

// The operations' view on the command line: every non-empty status text on its own line, no
// pauses, the listing only when asked for.
class ConsoleView : public View {
 public:
  ConsoleView(std::ostream& out, ProgressBar& progress, bool printListing)
      : out_(out), progress_(progress), printListing_(printListing) {}

  void SetStatus(const std::string& text) override;
  void ClearLog() override {}
  void AddLogLine(const std::string& line) override;
  void SetGaugeMax(int max) override { progress_.Start(max + 1); }
  void SetGaugeProgress(int position) override { progress_.Update(position + 1); }
  void Pause(int) override {}

 private:
  std::ostream& out_;
  ProgressBar& progress_;
  bool printListing_;
};

}  // namespace zelwik::cli
