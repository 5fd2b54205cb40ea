#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ops/operations.h"
#include "ui/router.h"

class QFileDialog;
class QLabel;
class QMenu;
class QListWidget;
class QTimer;
class QToolButton;

namespace zelwik::app {

class CGauge;
class InputFilter;
class WakePipe;
class WindowView;

// What tests and measurements replace in the window.
struct WindowHooks {
  // A file dialog: the chosen path, or nothing when the user cancelled.
  using PathDialog = std::function<std::optional<std::string>()>;
  // Replaces the wait of the operations' pauses; runs on the operations' thread.
  std::function<void(int)> pause = {};
  PathDialog openDialog = {};  // openFileDialog when empty (built at first use)
  PathDialog saveDialog = {};  // saveFileDialog when empty
  // Told every status text as the status line takes it.
  std::function<void(const std::string&)> status = {};
  // Where the port, chip, folder and recent files are kept; none: nothing is kept.
  ui::SettingsStore* settings = nullptr;
  // The question before a save over a file changed on disk; a message box when empty.
  std::function<bool(const std::string& fileName)> askSaveOverChanged = {};
  PathDialog jobDialog = {};  // a file dialog for job files when empty
};

// The program's window: it renders ui::MainWindow() and hands every click to the router, which
// runs the operations of the core on a thread of its own.
class MainForm : public QMainWindow, public ui::Shell {
  Q_OBJECT

 public:
  using PathDialog = WindowHooks::PathDialog;
  using Hooks = WindowHooks;

  // startupHex: the first command-line argument, loaded before the window first shows.
  explicit MainForm(std::optional<std::string> startupHex = std::nullopt, Hooks hooks = {},
                    QWidget* parent = nullptr);
  ~MainForm() override;

  State& state() { return state_; }
  void SetOpenDialog(PathDialog dialog) { hooks_.openDialog = std::move(dialog); }
  void SetSaveDialog(PathDialog dialog) { hooks_.saveDialog = std::move(dialog); }
  // Starts the command; an operation runs on after this returns, until operationEnded().
  void Run(ui::Command command) { router_->Run(command); }
  // Where the Interfejs menu finds the present ports (tests give a made-up system).
  void SetPortListRoots(PortListRoots roots) { router_->SetPortListRoots(std::move(roots)); }
  bool Busy() const { return router_->Busy(); }
  // Where the file dialogs open.
  const QString& FileFolder() const { return folder_; }
  // Esc.
  void Cancel() { router_->Cancel(); }

  // ui::Shell
  void SetChipLabel(const std::string& utf8) override;
  void SetPortLabel(const std::string& utf8) override;
  std::optional<std::string> AskOpenPath() override;
  std::optional<std::string> AskSavePath() override;
  void StartReadyTimer() override;
  void StopReadyTimer() override;
  void Wake() override;
  void DrainAfter(std::chrono::milliseconds after) override;
  void OperationEnded() override;
  void Quit() override;
  void ShowFailure(const std::string& what) override;
  void SetTitle(const std::string& utf8) override;
  void SetRecentFiles(const std::vector<std::string>& captions) override;
  void SetFileFolder(const std::string& folder) override;
  bool AskSaveOverChanged(const std::string& fileName) override;
  std::optional<std::string> AskJobPath() override;
  void ShowJob(const ui::OpenJob* job) override;
  const ui::Router& router() const { return *router_; }

 signals:
  void operationEnded();

 protected:
  // Files dragged from a file manager: the first one is loaded; nothing during an operation.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildElements();
  void BuildMenu();
  void ListPortsInMenu(QMenu* menu);
  void BuildDialogs();
  std::optional<std::string> RunFileDialog(QFileDialog* dialog);

  State state_;
  Hooks hooks_;

  QLabel* chipLabel = nullptr;
  QLabel* portLabel = nullptr;
  QListWidget* logList = nullptr;
  QLabel* statusLine = nullptr;
  QWidget* client_ = nullptr;
  QLabel* jobLine_ = nullptr;
  QLabel* jobCounters_ = nullptr;
  // Menu items and tool buttons by their commands, greyed out while an open job locks them.
  std::vector<std::pair<QAction*, ui::Command>> menuCommands_;
  std::vector<std::pair<QToolButton*, ui::Command>> buttonCommands_;
  CGauge* progressGauge = nullptr;
  QTimer* readyTimer = nullptr;
  QTimer* drainTimer_ = nullptr;  // the runner's gauge frames
  QFileDialog* openFileDialog = nullptr;
  QFileDialog* saveFileDialog = nullptr;
  QList<QAction*> listedPorts_;  // the Interfejs menu's entries below COM1 ... COM5
  QMenu* fileMenu_ = nullptr;
  QList<QAction*> recentFiles_;  // the Plik menu's recent files and the separator below them
  QString folder_;
  std::unique_ptr<WindowView> view_;
  std::unique_ptr<ui::Router> router_;
  InputFilter* filter_ = nullptr;
  WakePipe* wake_ = nullptr;
};

}  // namespace zelwik::app
