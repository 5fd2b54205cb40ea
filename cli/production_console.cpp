#include "cli/production_console.h"

#include <algorithm>
#include <cstdio>

#include "cli/production.h"
#include "link/port_list.h"

namespace zelwik::cli {

using Clock = std::chrono::steady_clock;

SharedConsole::SharedConsole(ProductionIo& io, std::size_t ports)
    : io_(io), slots_(ports), single_(ports == 1 ? io.progress : nullptr) {}

void SharedConsole::Line(bool error, const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  Erase();
  (error ? io_.err : io_.out) << text << '\n' << std::flush;
  Draw(true);
}

void SharedConsole::Start(std::size_t slot, int total) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (slots_.size() == 1) return single_.Start(total);
  slots_[slot] = {slots_[slot].name, 0, total, total > 0};
  Draw(true);
}

void SharedConsole::Update(std::size_t slot, int done) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (slots_.size() == 1) return single_.Update(done);
  if (!slots_[slot].active) return;
  slots_[slot].done = std::clamp(done, 0, slots_[slot].total);
  // The last step is always drawn: the bar ends full.
  Draw(slots_[slot].done == slots_[slot].total);
}

void SharedConsole::Stop(std::size_t slot) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (slots_.size() == 1) return single_.Stop();
  if (!slots_[slot].active) return;
  slots_[slot].active = false;
  Erase();
  Draw(true);
}

void SharedConsole::Erase() {
  if (slots_.size() == 1) return single_.Clear();
  if (drawn_) *io_.progress << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

// Several ports: each port's share in per cent (one port has the bar of a single command).
void SharedConsole::Draw(bool now) {
  if (!io_.progress || slots_.size() == 1) return;
  const auto time = Clock::now();
  if (!now && time - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = time;
  std::string line;
  char part[128];
  for (const Slot& s : slots_) {
    if (!s.active) continue;
    std::snprintf(part, sizeof part, "%s%s %3d%%", line.empty() ? "" : "  ", s.name.c_str(),
                  static_cast<int>(static_cast<long long>(s.done) * 100 / s.total));
    line += part;
  }
  if (line.empty()) return Erase();
  *io_.progress << '\r' << line << "\x1b[K" << std::flush;
  drawn_ = true;
}

PortView::PortView(SharedConsole& console, std::size_t slot, std::string prefix,
                   const std::string& device)
    : console_(console),
      slot_(slot),
      prefix_(std::move(prefix)),
      slowLink_(warnings_, LatencyTimerAdvice(device)) {}

void PortView::SetStatus(const std::string& text) {
  console_.Stop(slot_);
  if (!text.empty()) console_.Line(false, prefix_ + text);
}

void PortView::SetGaugeMax(int max) {
  console_.Start(slot_, max + 1);
  if (slowLink_.TransferStarts(max + 1)) Warned();
}

void PortView::SetGaugeProgress(int position) {
  // The warning first, so that the bar is drawn again below it.
  if (slowLink_.TransferAt(position + 1)) Warned();
  console_.Update(slot_, position + 1);
}

void PortView::LinkPace(double msPerExchange) {
  if (slowLink_.Pace(msPerExchange)) Warned();
}

// The slow-link warning's lines, each written whole with the port's name.
void PortView::Warned() {
  std::istringstream lines(warnings_.str());
  warnings_.str({});
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("zelwik-cli: ", 0) == 0)
      Error(line.substr(12));
    else
      console_.Line(true, prefix_ + line);
  }
}

}  // namespace zelwik::cli
