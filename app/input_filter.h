#pragma once

#include <QEvent>
#include <QObject>

namespace zelwik::ui {
class Router;
}  // namespace zelwik::ui

namespace zelwik::app {

// Watches every event of the application for as long as it lives. While the router runs an
// operation the user's input (the close box included) is thrown away, never replayed, and Esc
// cancels the operation; the window keeps answering the window system and keeps its colours.
class InputFilter : public QObject {
 public:
  InputFilter(ui::Router& router, QObject* parent);

  static bool IsUserInput(QEvent::Type type);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ui::Router& router_;
};

}  // namespace zelwik::app
