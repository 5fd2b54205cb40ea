#include "app/window_view.h"

#include <QLabel>
#include <QListWidget>

#include "app/cp1250.h"
#include "app/gauge.h"

namespace zelwik::app {

WindowView::WindowView(QLabel* status, QListWidget* log, CGauge* gauge, StatusObserver observer)
    : status_(status), log_(log), gauge_(gauge), observer_(std::move(observer)) {}

void WindowView::ShowStatus(const std::string& text) {
  status_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (observer_) observer_(text);
}

void WindowView::ClearLog() { log_->clear(); }

void WindowView::AddLogLine(const std::string& line) {
  const std::u16string text = DecodeListLine(line);
  log_->addItem(
      QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size())));
}

void WindowView::ShowGauge(int max, int position) {
  gauge_->SetMaxValue(max);
  gauge_->SetProgress(position);
}

}  // namespace zelwik::app
