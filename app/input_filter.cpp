#include "app/input_filter.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include "ui/router.h"

namespace zelwik::app {

InputFilter::InputFilter(ui::Router& router, QObject* parent) : QObject(parent), router_(router) {
  QCoreApplication::instance()->installEventFilter(this);
}

bool InputFilter::IsUserInput(QEvent::Type type) {
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

bool InputFilter::eventFilter(QObject*, QEvent* event) {
  if (!IsUserInput(event->type()) || !router_.Busy()) return false;
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
    router_.Cancel();
  // Refused rather than just unseen: a close event left accepted would still close the window.
  event->ignore();
  return true;
}

}  // namespace zelwik::app
