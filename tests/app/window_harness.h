// The Qt window under test: its pauses recorded and never slept (held on request), every text its
// status line took, in order, its questions answered by the test, and its elements found by name.
#pragma once

#include <QTest>
#include <QtWidgets>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"

namespace zelwik::testing {

// With `hold` set, a pause keeps the operation's thread until the window's thread lets it go.
struct Pauses {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int> taken;
  bool hold = false, held = false;

  void Pause(int ms) {
    std::unique_lock lock(mutex);
    taken.push_back(ms);
    held = hold;
    cv.notify_all();
    cv.wait(lock, [&] { return !held; });
  }
  bool Held() {
    const std::lock_guard lock(mutex);
    return held;
  }
  void Release() {
    const std::lock_guard lock(mutex);
    hold = held = false;
    cv.notify_all();
  }
  std::vector<int> Taken() {
    const std::lock_guard lock(mutex);
    return taken;
  }
};

struct TestWindow {
  Pauses pauses;
  std::vector<std::string> shown;
  std::vector<std::string> asked;  // the files a save over a changed file asked about
  bool answer = false;
  std::optional<std::string> jobPath;  // what the job dialog answers
  std::unique_ptr<app::MainForm> form;

  // The hooks are the harness's but for `hooks.settings`.
  explicit TestWindow(std::optional<std::string> file = std::nullopt,
                      app::MainForm::Hooks hooks = {}, PortListRoots roots = {}) {
    hooks.pause = [this](int ms) { pauses.Pause(ms); };
    hooks.status = [this](const std::string& text) { shown.push_back(text); };
    hooks.askSaveOverChanged = [this](const std::string& name) {
      asked.push_back(name);
      return answer;
    };
    hooks.jobDialog = [this] { return jobPath; };
    form = std::make_unique<app::MainForm>(file, hooks);
    form->SetPortListRoots(std::move(roots));
  }
  ~TestWindow() { pauses.Release(); }

  template <typename T = QWidget>
  T* Get(const QString& name) const {
    return form->findChild<T*>(name);
  }
  QString Text(const char* label) const { return Get<QLabel>(label)->text(); }
  std::string Status() const { return Text("statusLine").toStdString(); }
  // A click on the tool button, or the menu item; the operation it starts runs on.
  void Start(const QString& name) const {
    if (auto* button = Get<QToolButton>(name)) return QTest::mouseClick(button, Qt::LeftButton);
    Get<QAction>(name)->trigger();
  }
  void WaitIdle() const { QTRY_VERIFY_WITH_TIMEOUT(!form->Busy(), 30000); }
  // Start() and the operation's end.
  void Run(const QString& name) const {
    Start(name);
    WaitIdle();
  }
  bool Enabled(const QString& name) const {
    if (auto* button = Get<QToolButton>(name)) return button->isEnabled();
    return Get<QAction>(name)->isEnabled();
  }
};

}  // namespace zelwik::testing
