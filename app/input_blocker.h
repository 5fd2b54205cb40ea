#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <utility>
#include <vector>

namespace zelwik::app {

// Lives as long as one operation. The operation keeps the window's thread, yet the window keeps
// answering the window system (pings, exposures, moves, minimising): KeepAlive() and Wait() let
// the event loop run with user input excluded. Every user input event, the close box included, is
// thrown away meanwhile, and the end first delivers (and so discards) the input still queued, so
// nothing typed or clicked during an operation is replayed after it. Timers do not fire inside:
// their events are held and delivered once the operation has ended.
class InputBlocker : public QObject {
 public:
  // The event loop runs at most this often from KeepAlive().
  static constexpr int kKeepAliveMs = 25;

  // Closes an open menu and draws the whole window before the operation starts.
  InputBlocker();
  ~InputBlocker() override;
  InputBlocker(const InputBlocker&) = delete;
  InputBlocker& operator=(const InputBlocker&) = delete;

  static bool IsUserInput(QEvent::Type type);
  // Lets the window system's events through if the last time was long enough ago.
  static void KeepAlive();
  // A pause of the operation that keeps the window alive for its whole length. Outside an
  // operation it shuts input out for its own length.
  static void Wait(int milliseconds);

  int Discarded() const { return discarded_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ProcessWindowSystemEvents();

  static InputBlocker* current_;
  InputBlocker* outer_;
  int discarded_ = 0;
  QElapsedTimer sinceKeepAlive_;
  QObject* waitTimer_ = nullptr;  // the one timer that may fire: the end of a Wait()
  std::vector<std::pair<QPointer<QObject>, int>> heldTimers_;
};

}  // namespace zelwik::app
