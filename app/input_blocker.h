#pragma once

#include <QEvent>
#include <QObject>

namespace zelwik::app {

// While alive, every user input event of the application is thrown away. Its end first delivers
// (and so discards) the input still queued, so nothing typed or clicked during an operation is
// replayed after it.
class InputBlocker : public QObject {
 public:
  InputBlocker();
  ~InputBlocker() override;
  InputBlocker(const InputBlocker&) = delete;
  InputBlocker& operator=(const InputBlocker&) = delete;

  static bool IsUserInput(QEvent::Type type);
  int Discarded() const { return discarded_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int discarded_ = 0;
};

}  // namespace zelwik::app
