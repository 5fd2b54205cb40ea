#pragma once

#include <windows.h>

#include <string>

#include "ops/view.h"
#include "win/message_pump.h"

namespace zelwik::win {

class Gauge;

// What the operations show, put into the window's controls. The status line is painted at once,
// the gauge at most once a display frame (and always before a pause and at the end); at both the
// window answers the window system, as it does all through a pause.
class WindowView : public View {
 public:
  static constexpr int kFrameMs = 16;

  WindowView(HWND status, HWND log, Gauge& gauge, MessagePump& pump);

  void SetStatus(const std::string& text) override;
  void ClearLog() override;
  void AddLogLine(const std::string& line) override;
  void SetGaugeMax(int max) override;
  void SetGaugeProgress(int position) override;
  void ReplyPending() override;
  void Pause(int milliseconds) override;

  // Paints whatever the gauge still owes the screen.
  void Flush();
  // Every status text is appended to this file as a line, for tests that read what was shown.
  void SetStatusLog(std::wstring path) { statusLog_ = std::move(path); }

 private:
  void PaintGauge(bool now);

  HWND status_;
  HWND log_;
  Gauge& gauge_;
  MessagePump& pump_;
  ULONGLONG lastGaugePaint_ = 0;
  std::wstring statusLog_;
};

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace zelwik::win
