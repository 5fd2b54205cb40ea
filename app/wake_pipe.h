#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace zelwik::app {

// Wakes the window's thread from any thread: Wake() writes a byte into a pipe whose reading end
// the window's event loop watches, and `woken` runs there. Nothing of Qt runs on the waking
// thread, and a pipe is a hand-over that thread checkers see.
class WakePipe : public QObject {
 public:
  WakePipe(std::function<void()> woken, QObject* parent);
  ~WakePipe() override;
  void Wake();

 private:
  void Woken();
  int read_ = -1, write_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  std::function<void()> woken_;
};

}  // namespace zelwik::app
