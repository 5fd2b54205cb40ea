#pragma once

#include <QWidget>

namespace zelwik::app {

// The horizontal progress bar with its percentage, black on white. Any maximum is accepted: one
// that leaves no range (0, or -1 for an empty image) shows 0 %.
class CGauge : public QWidget {
  Q_OBJECT

 public:
  explicit CGauge(QWidget* parent = nullptr);

  void SetMaxValue(int max);
  void SetProgress(int position);
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }
  int PercentDone() const;
  // Whether what a paint would show differs from what was painted last.
  bool NeedsPaint() const { return PercentDone() != paintedPercent_; }
  int PaintedPercent() const { return paintedPercent_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Changed();
  int max_ = 100;
  int progress_ = 0;
  int paintedPercent_ = -1;
  int requestedPercent_ = -1;  // the last one update() was asked for
};

}  // namespace zelwik::app
