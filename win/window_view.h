#pragma once

#include <windows.h>

#include <string>

#include "ui/operation_runner.h"
#include "win/status_log.h"

namespace zelwik::win {

class Gauge;

// What the operations show, put into the window's controls on the window's thread. Each control
// paints at its next WM_PAINT, with its latest value.
class WindowView : public ui::Screen {
 public:
  WindowView(HWND status, HWND log, Gauge& gauge, StatusLog statusLog);

  void ShowStatus(const std::string& text) override;
  void ClearLog() override;
  void AddLogLine(const std::string& line) override;
  void ShowGauge(int max, int position) override;

 private:
  HWND status_;
  HWND log_;
  Gauge& gauge_;
  StatusLog statusLog_;
};

}  // namespace zelwik::win
