#pragma once

#include <QElapsedTimer>
#include <functional>

#include "ops/view.h"

class QLabel;
class QListWidget;

namespace zelwik::app {

class CGauge;

// What the operations show, put into the window's elements. The status line is painted at once;
// the gauge at most once a display frame, and always before a pause and at the end, so it never
// costs a long transfer more than a few paints. Each of these points also lets the window answer
// the window system while the operation holds the thread.
class WindowView : public View {
 public:
  using PauseHook = std::function<void(int milliseconds)>;
  static constexpr int kFrameMs = 16;

  WindowView(QLabel* status, QListWidget* log, CGauge* gauge, PauseHook pause);

  void SetStatus(const std::string& text) override;
  void ClearLog() override;
  void AddLogLine(const std::string& line) override;
  void SetGaugeMax(int max) override;
  void SetGaugeProgress(int position) override;
  void Pause(int milliseconds) override;

  // Paints whatever the gauge still owes the screen.
  void Flush();

 private:
  void PaintGauge(bool now);

  QLabel* status_;
  QListWidget* log_;
  CGauge* gauge_;
  PauseHook pause_;
  QElapsedTimer sinceGaugePaint_;
};

}  // namespace zelwik::app
