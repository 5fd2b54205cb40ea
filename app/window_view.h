#pragma once

#include <QElapsedTimer>
#include <functional>

#include "ops/view.h"

class QLabel;
class QListWidget;

namespace zelwik::app {

class CGauge;

// What the operations show, put into the window's elements. The status line is painted at once.
// The gauge is painted while a reply is on the wire, at most once a display frame and at most about
// 1 % of the time (a platform where a paint is slow gets fewer), and always before a pause and at
// the end: a transfer's progress then costs it next to nothing. The status line and the replies'
// waits also let the window answer the window system while the operation holds the thread.
class WindowView : public View {
 public:
  using PauseHook = std::function<void(int milliseconds)>;
  static constexpr int kFrameMs = 16;
  // Paints are spaced at least this many times their own cost apart.
  static constexpr int kPaintSpacing = 100;

  WindowView(QLabel* status, QListWidget* log, CGauge* gauge, PauseHook pause);

  void SetStatus(const std::string& text) override;
  void ClearLog() override;
  void AddLogLine(const std::string& line) override;
  void SetGaugeMax(int max) override;
  void SetGaugeProgress(int position) override;
  void Pause(int milliseconds) override;
  void ReplyPending() override;

  // Paints whatever the gauge still owes the screen.
  void Flush();

 private:
  void PaintGauge(bool now);

  QLabel* status_;
  QListWidget* log_;
  CGauge* gauge_;
  PauseHook pause_;
  QElapsedTimer sinceGaugePaint_;
  qint64 paintGapNs_ = kFrameMs * 1000000LL;
  qint64 lastPaintNs_ = -1;
};

}  // namespace zelwik::app
