#pragma once

#include <functional>
#include <string>

#include "ui/operation_runner.h"

class QLabel;
class QListWidget;

namespace zelwik::app {

class CGauge;

// What the operations show, put into the window's elements on the window's thread. Qt paints
// each of them at its next frame, with its latest value.
class WindowView : public ui::Screen {
 public:
  // Told every status text as it reaches the status line (tests).
  using StatusObserver = std::function<void(const std::string& utf8)>;

  WindowView(QLabel* status, QListWidget* log, CGauge* gauge, StatusObserver observer = {});

  void ShowStatus(const std::string& text) override;
  void ClearLog() override;
  void AddLogLine(const std::string& line) override;
  void ShowGauge(int max, int position) override;

 private:
  QLabel* status_;
  QListWidget* log_;
  CGauge* gauge_;
  StatusObserver observer_;
};

}  // namespace zelwik::app
