#include "app/gauge.h"

#include <QPainter>

namespace zelwik::app {

CGauge::CGauge(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void CGauge::SetMaxValue(int max) {
  max_ = max;
  Changed();
}

void CGauge::SetProgress(int position) {
  progress_ = position < 0 ? 0 : position;
  Changed();
}

int CGauge::PercentDone() const {
  if (max_ <= 0) return 0;
  const long long done = progress_ > max_ ? max_ : progress_;
  return static_cast<int>(done * 100 / max_);
}

void CGauge::Changed() {
  // Only a new percentage changes the picture; a 32 KiB read moves the bar 101 times at most. The
  // window paints during a transfer only now and then, so ask for each percentage just once.
  const int percent = PercentDone();
  if (percent == requestedPercent_) return;
  requestedPercent_ = percent;
  if (percent != paintedPercent_) update();
}

void CGauge::paintEvent(QPaintEvent*) {
  const int percent = PercentDone();
  QPainter p(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  const QString text = QString::number(percent) + QLatin1Char('%');

  p.fillRect(inner, Qt::white);
  p.setPen(Qt::black);
  p.drawText(inner, Qt::AlignCenter, text);

  const QRect filled(inner.left(), inner.top(), inner.width() * percent / 100, inner.height());
  if (!filled.isEmpty()) {
    p.save();
    p.setClipRect(filled);
    p.fillRect(filled, Qt::black);
    p.setPen(Qt::white);
    p.drawText(inner, Qt::AlignCenter, text);
    p.restore();
  }
  p.setPen(Qt::black);
  p.drawRect(frame);
  paintedPercent_ = percent;
}

}  // namespace zelwik::app
