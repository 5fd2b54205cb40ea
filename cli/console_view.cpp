#include "cli/console_view.h"

#include <algorithm>
#include <cstdio>

#include "cli/cp1250.h"
#include "link/pace.h"

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

namespace {

// "0:42", "1:05:00"
std::string ClockText(double seconds) {
  // Beyond any real operation (or not a number at all): shown as nothing.
  const long s = seconds > 0 && seconds < 1e7 ? static_cast<long>(seconds + 0.5) : 0;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// "3.4 s", "1 min 27 s"
std::string Duration(double seconds) {
  char text[48];
  if (seconds < 60)
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  else
    std::snprintf(text, sizeof text, "%ld min %ld s", static_cast<long>(seconds) / 60,
                  static_cast<long>(seconds) % 60);
  return text;
}

}  // namespace

void ProgressBar::Draw(int done) {
  constexpr int kWidth = 30;
  done = std::min(done, total_);
  if (done < 0) done = 0;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  const int filled = static_cast<int>(static_cast<long long>(done) * kWidth / total_);
  // What is left, at the pace so far; unknown before the first byte has taken measurable time.
  const std::string left = rate > 0 ? ", " + ClockText((total_ - done) / rate) + " left" : "";
  char line[160];
  std::snprintf(line, sizeof line, "\r[%-*.*s] %d/%d B  %.0f B/s  %s elapsed%s\x1b[K", kWidth,
                filled, "##############################", done, total_, rate,
                ClockText(seconds).c_str(), left.c_str());
  *terminal_ << line << std::flush;
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (drawn_) *terminal_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
  lastDraw_ = Clock::now() - std::chrono::seconds(1);
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

void ConsoleView::SetGaugeMax(int max) {
  progress_.Start(max + 1);
  if (slowLink_ && slowLink_->TransferStarts(max + 1)) progress_.Clear();
}

void ConsoleView::SetGaugeProgress(int position) {
  // The warning first, so that the bar is drawn again below it.
  if (slowLink_ && slowLink_->TransferAt(position + 1)) progress_.Clear();
  progress_.Update(position + 1);
}

void ConsoleView::LinkPace(double msPerExchange) {
  if (slowLink_ && slowLink_->Pace(msPerExchange)) progress_.Clear();
}

bool SlowLinkWarning::Pace(double msPerExchange) {
  if (msPerExchange <= kSlowExchangeMs) return false;
  exchangeMs_ = msPerExchange;
  return Warn();
}

bool SlowLinkWarning::TransferStarts(int total) {
  total_ = total;
  done_ = 0;
  transferStart_ = Clock::now();
  return Warn();
}

bool SlowLinkWarning::TransferAt(int done) {
  done_ = done;
  return Warn();
}

// The estimate takes a byte's time from the transfer itself (a byte may be more than one exchange)
// and adds it for the bytes still to come and the closing exchange.
bool SlowLinkWarning::Warn() {
  if (warned_ || exchangeMs_ <= 0 || total_ <= 0 || done_ < kBytesTimed) return false;
  warned_ = true;
  const auto now = Clock::now();
  const double byteMs =
      std::chrono::duration<double, std::milli>(now - transferStart_).count() / done_;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double estimate = elapsed + ((total_ - done_) * byteMs + 2 * exchangeMs_) / 1000;
  char line[200];
  std::snprintf(line, sizeof line,
                "zelwik-cli: slow link: %.1f ms a byte (%.1f ms a frame and its reply, where the "
                "wire needs 0.5 ms); this operation will take about %s\n",
                byteMs, exchangeMs_, Duration(estimate).c_str());
  err_ << line << advice_ << std::flush;
  return true;
}

void ConsoleView::AddLogLine(const std::string& line) {
  if (printListing_) out_ << TerminalListingLine(line) << '\n';
}

}  // namespace zelwik::cli
