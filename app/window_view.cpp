#include "app/window_view.h"

#include <QLabel>
#include <QListWidget>
#include <algorithm>

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

// Painted at the next reply's wait rather than here, between two exchanges.
void WindowView::SetGaugeProgress(int position) { gauge_->SetProgress(position); }

// The frame and its reply are on the wire meanwhile, so this time costs the transfer nothing.
void WindowView::ReplyPending() {
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
  if (!now && sinceGaugePaint_.nsecsElapsed() < paintGapNs_) return;
  QElapsedTimer paint;
  paint.start();
  gauge_->repaint();
  const qint64 costNs = paint.nsecsElapsed();
  // The cheaper of the last two paints, so that one that lost the processor does not stall the
  // gauge.
  const qint64 typicalNs = lastPaintNs_ >= 0 && lastPaintNs_ < costNs ? lastPaintNs_ : costNs;
  lastPaintNs_ = costNs;
  paintGapNs_ = std::max(kFrameMs * 1000000LL, typicalNs * kPaintSpacing);
  sinceGaugePaint_.restart();
}

}  // namespace zelwik::app
