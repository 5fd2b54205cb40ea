#include "cli/console_view.h"

#include <cstdio>

#include "cli/cp1250.h"

namespace zelwik::cli {

using Clock = std::chrono::steady_clock;

void ProgressBar::Start(int total) {
  if (!terminal_) return;
  Stop();
  active_ = total > 0;
  total_ = total;
  start_ = Clock::now();
  lastDraw_ = start_ - std::chrono::seconds(1);
}

void ProgressBar::Update(int done) {
  if (!active_) return;
  const auto now = Clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(100) && done < total_) return;
  lastDraw_ = now;
  Draw(done);
}

void ProgressBar::Draw(int done) {
  constexpr int kWidth = 30;
  if (done > total_) done = total_;
  if (done < 0) done = 0;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  const int filled = static_cast<int>(static_cast<long long>(done) * kWidth / total_);
  char line[128];
  std::snprintf(line, sizeof line, "\r[%-*.*s] %d/%d B  %.0f B/s\x1b[K", kWidth, filled,
                "##############################", done, total_, rate);
  *terminal_ << line << std::flush;
  drawn_ = true;
}

void ProgressBar::Stop() {
  active_ = false;
  if (drawn_) *terminal_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

void ConsoleView::SetStatus(const std::string& text) {
  progress_.Stop();
  if (text.empty()) return;
  out_ << text << '\n' << std::flush;
}

void ConsoleView::AddLogLine(const std::string& line) {
  if (printListing_) out_ << TerminalListingLine(line) << '\n';
}

}  // namespace zelwik::cli
