#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "image/file_io.h"
#include "link/port_list.h"
#include "ui/job_mode.h"
#include "ui/operation_runner.h"
#include "ui/port_menu.h"
#include "ui/settings.h"
#include "ui/window_description.h"

namespace zelwik {
struct State;
struct OperationEntry;
}  // namespace zelwik

namespace zelwik::ui {

// What a front end does for the router beyond the Screen: the labels, the dialogs, the timer,
// waking the window's thread and ending the program. Everything but Wake() is called on the
// window's thread.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void SetChipLabel(const std::string& utf8) = 0;  // chipLabel
  virtual void SetPortLabel(const std::string& utf8) = 0;  // portLabel
  // The file dialogs: the chosen path (bytes the file functions take), nothing when cancelled.
  virtual std::optional<std::string> AskOpenPath() = 0;
  virtual std::optional<std::string> AskSavePath() = 0;
  virtual void StartReadyTimer() = 0;
  virtual void StopReadyTimer() = 0;
  // Have the window's thread call Router::Drain() at its next turn; may be called from any thread.
  virtual void Wake() = 0;
  // Have the window's thread call Router::Drain() after this long; a later call replaces an
  // earlier one that has not yet fired (one single-shot timer).
  virtual void DrainAfter(std::chrono::milliseconds after) = 0;
  // An operation has ended and all it showed is on the screen.
  virtual void OperationEnded() {}
  // The window's title (ui::WindowTitle).
  virtual void SetTitle(const std::string& utf8) { (void)utf8; }
  // The Plik menu's recent files, their captions in order: entry i runs {OpenRecent, i}.
  virtual void SetRecentFiles(const std::vector<std::string>& captions) { (void)captions; }
  // Where the file dialogs open next: the folder of the last file loaded or saved.
  virtual void SetFileFolder(const std::string& folder) { (void)folder; }
  // The loaded file has changed on disk since it was loaded: whether to save over it all the same.
  virtual bool AskSaveOverChanged(const std::string& fileName) { return (void)fileName, true; }
  // The job dialog: the chosen job file, nothing when cancelled.
  virtual std::optional<std::string> AskJobPath() { return std::nullopt; }
  // A job was opened, counted a chip or was closed (nullptr): the strip below the status line and
  // what Router::Locked() refuses follow it.
  virtual void ShowJob(const OpenJob* job) { (void)job; }
  virtual void Quit() = 0;
  // An exception that escaped an operation, shown after it has ended (a message box).
  virtual void ShowFailure(const std::string& what) = 0;
};

// Runs the window's commands against the program's state: the operations on the runner's worker
// thread, one at a time, with the window's input dropped meanwhile; the start-up load, the ready
// timer and the chip and port choices.
class Router {
 public:
  Router(State& state, Screen& screen, Shell& shell, OperationRunner::PauseHook pause = {});

  // Where the port, the chip, the folder and the recent files are kept between starts; before
  // Startup(). Without one, they last as long as the window.
  void UseSettings(SettingsStore* store) { settings_ = store; }
  // The constructor's part of start-up, before the window shows: the image cleared, what was
  // remembered put back, and the file loaded when there is one (then the ready timer started); a
  // .zjob file is opened as a job instead. Returns once the load has ended.
  void Startup(const std::optional<std::string>& hexFile);
  // Files dropped on the window: the first is loaded as Plik/Odczyt loads a file. Nothing during
  // an operation.
  void OpenDropped(const std::vector<std::string>& paths);
  // The recent files, the latest first.
  const std::vector<std::string>& RecentFiles() const { return remembered_.recent; }
  // Starts one command; does nothing while an operation runs, nor for a command a job locks.
  void Run(Command command);
  // The job file loaded as Plik/Otwórz zadanie... loads it (the job dialog's part done).
  void OpenJobFile(const std::string& path);
  // The open job, nullptr when none is.
  const OpenJob* OpenedJob() const { return job_.get(); }
  // Whether the command is refused since a job is open; the windows grey it out.
  bool Locked(Command command) const { return job_ && LockedByJob(*job_, command); }
  // A tick that falls due during an operation is handled once the operation has ended.
  void ReadyTimerDue();
  // Esc: stops the running operation; nothing when idle.
  void Cancel() { runner_.Cancel(); }
  // For Shell::Wake().
  void Drain() { runner_.Drain(); }
  // While an operation runs, the window's input is dropped, never replayed, and its close box does
  // nothing.
  bool Busy() const { return runner_.Busy(); }

  // The present ports for the Interfejs menu below COM1 ... COM5, listed now, as it opens: entry
  // i is chosen by {SelectListedPort, i} until the next listing. A port gone by then is chosen
  // all the same, and the next operation fails to open it.
  const std::vector<PortMenuEntry>& ListPorts();
  // Where the listing looks (tests give a made-up system).
  void SetPortListRoots(PortListRoots roots) { portRoots_ = std::move(roots); }

 private:
  // `after` runs on the window's thread once the job has ended, before the front end hears of it.
  void Operate(OperationRunner::Job job, std::function<void()> after = {});
  void Ended(const std::optional<std::string>& failure);
  // Loads the file by its extension's format; startup: without the pause and " Gotowy...".
  void OpenFile(const std::string& path, bool startup, const std::string& afterText = {});
  // Program and verify of a file that changed on disk since it was loaded: load it again first.
  void ReloadAndRun(const OperationEntry* operation);
  // The image is now that file's (stamp: as it was when read) or no file's.
  void Track(const std::string& path, const std::optional<FileStamp>& stamp);
  void Untrack();
  void Remember();
  void ShowRecentFiles();
  // The program button with a job open: one chip through the job's steps.
  void RunJobChip();
  void EnterJob(std::unique_ptr<OpenJob> job);
  void LeaveJob();

  State& state_;
  Screen& screen_;
  Shell& shell_;
  // Before the runner, which stops the chip that may be using it before it goes.
  std::unique_ptr<OpenJob> job_;
  OperationRunner runner_;
  bool readyTimerDue_ = false;
  PortListRoots portRoots_;
  std::vector<PortMenuEntry> listedPorts_;
  std::function<void()> after_;
  SettingsStore* settings_ = nullptr;
  Remembered remembered_;
  struct Loaded {
    std::string path;
    std::optional<FileStamp> stamp;
  };
  std::optional<Loaded> loaded_;
};

}  // namespace zelwik::ui
