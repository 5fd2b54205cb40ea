#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "ui/operation_runner.h"
#include "ui/port_menu.h"
#include "ui/window_description.h"

namespace zelwik {
struct State;
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
  virtual void Quit() = 0;
  // An exception that escaped an operation, shown after it has ended (a message box).
  virtual void ShowFailure(const std::string& what) = 0;
};

// Runs the window's commands against the program's state: the operations on the runner's worker
// thread, one at a time, with the window's input dropped meanwhile; the start-up load, readyTimer
// and the chip and port choices.
class Router {
 public:
  Router(State& state, Screen& screen, Shell& shell, OperationRunner::PauseHook pause = {});

  // The constructor's part of start-up, before the window shows: the image cleared, and the file
  // loaded when there is one (then readyTimer started). Returns once the load has ended.
  void Startup(const std::optional<std::string>& hexFile);
  // Starts one command; does nothing while an operation runs.
  void Run(Command command);
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
  void Operate(OperationRunner::Job job);
  void Ended(const std::optional<std::string>& failure);

  State& state_;
  Screen& screen_;
  Shell& shell_;
  OperationRunner runner_;
  bool readyTimerDue_ = false;
  PortListRoots portRoots_;
  std::vector<PortMenuEntry> listedPorts_;
};

}  // namespace zelwik::ui
