#include "app/input_blocker.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTimerEvent>
#include <QWidget>
#include <algorithm>

namespace zelwik::app {
namespace {

// Input stays queued in the window system until the end; everything else (pings, exposures,
// moves, state changes, posted events) is handled.
constexpr QEventLoop::ProcessEventsFlags kWindowSystemOnly = QEventLoop::ExcludeUserInputEvents;

}  // namespace

InputBlocker* InputBlocker::current_ = nullptr;

InputBlocker::InputBlocker() : outer_(current_) {
  QCoreApplication::instance()->installEventFilter(this);
  current_ = this;
  // A menu item's action runs while its popup is still on the screen and the menu bar still shows
  // its title pressed: both are taken down and the window drawn whole before the operation.
  ProcessWindowSystemEvents();
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible()) window->repaint();
  sinceKeepAlive_.start();
}

InputBlocker::~InputBlocker() {
  // Input that came during the operation is delivered now, and so discarded.
  QCoreApplication::processEvents();
  QCoreApplication::instance()->removeEventFilter(this);
  current_ = outer_;
  for (auto& [object, id] : heldTimers_) {
    if (!object) continue;
    if (outer_)
      outer_->heldTimers_.emplace_back(object, id);
    else
      QCoreApplication::postEvent(object, new QTimerEvent(id));
  }
}

void InputBlocker::ProcessWindowSystemEvents() {
  QCoreApplication::processEvents(kWindowSystemOnly);
  sinceKeepAlive_.restart();
}

void InputBlocker::KeepAlive() {
  if (current_ && current_->sinceKeepAlive_.elapsed() >= kKeepAliveMs)
    current_->ProcessWindowSystemEvents();
}

void InputBlocker::Wait(int milliseconds) {
  if (!current_) {
    InputBlocker blocker;
    Wait(milliseconds);
    return;
  }
  InputBlocker& blocker = *current_;
  if (milliseconds > 0) {
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject* outerWait = std::exchange(blocker.waitTimer_, &end);
    end.start(milliseconds);
    // A request to quit the application ends the loop early; the pause still runs its length.
    while (end.isActive()) loop.exec(kWindowSystemOnly);
    blocker.waitTimer_ = outerWait;
  }
  blocker.ProcessWindowSystemEvents();
}

bool InputBlocker::IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::Close:  // the close box: the window ends only when idle
      return true;
    default:
      return false;
  }
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Timer) {
    if (watched == waitTimer_) return false;
    const int id = static_cast<QTimerEvent*>(event)->timerId();
    const auto same = [&](const auto& held) { return held.first == watched && held.second == id; };
    if (std::none_of(heldTimers_.begin(), heldTimers_.end(), same))
      heldTimers_.emplace_back(watched, id);
    return true;
  }
  if (!IsUserInput(event->type())) return false;
  ++discarded_;
  return true;
}

}  // namespace zelwik::app
