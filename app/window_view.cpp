#include "app/window_view.h"

#include <QLabel>
#include <QListWidget>

#include "app/cp1250.h"
#include "app/gauge.h"
#include "app/input_blocker.h"

namespace zelwik::app {

WindowView::WindowView(QLabel* status, QListWidget* log, CGauge* gauge, PauseHook pause)
    : status_(status), log_(log), gauge_(gauge), pause_(std::move(pause)) {
  sinceGaugePaint_.start();
}

void WindowView::SetStatus(const std::string& text) {
  status_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  // The operation holds the thread, so the event loop would show this only after it ended.
  status_->repaint();
  InputBlocker::KeepAlive();
}

void WindowView::ClearLog() { log_->clear(); }

void WindowView::AddLogLine(const std::string& line) {
  const std::u16string text = DecodeListLine(line);
  log_->addItem(
      QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size())));
}

void WindowView::SetGaugeMax(int max) {
  gauge_->SetMaxValue(max);
  PaintGauge(false);
  InputBlocker::KeepAlive();
}

void WindowView::SetGaugeProgress(int position) {
  gauge_->SetProgress(position);
  PaintGauge(false);
  InputBlocker::KeepAlive();
}

void WindowView::Pause(int milliseconds) {
  Flush();
  if (pause_) pause_(milliseconds);
}

void WindowView::Flush() { PaintGauge(true); }

void WindowView::PaintGauge(bool now) {
  if (!gauge_->NeedsPaint()) return;
  if (!now && sinceGaugePaint_.elapsed() < kFrameMs) return;
  gauge_->repaint();
  sinceGaugePaint_.restart();
}

}  // namespace zelwik::app
