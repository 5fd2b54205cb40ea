#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/port_list.h"
#include "ui/port_menu.h"
#include "ui/window_description.h"

namespace zelwik {
class View;
struct State;
}  // namespace zelwik

namespace zelwik::ui {

// What a front end does for the router beyond the operations' View: the labels, the dialogs, the
// timer, input shutting and ending the program.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void SetChipLabel(const std::string& utf8) = 0;  // Label2
  virtual void SetPortLabel(const std::string& utf8) = 0;  // Label3
  // The file dialogs: the chosen path (bytes the file functions take), nothing when cancelled.
  virtual std::optional<std::string> AskOpenPath() = 0;
  virtual std::optional<std::string> AskSavePath() = 0;
  virtual void StartTimer1() = 0;
  virtual void StopTimer1() = 0;
  // Around every operation: user input arriving in between is dropped, never replayed.
  virtual void BeginOperation() = 0;
  virtual void EndOperation() = 0;
  virtual void Quit() = 0;
  // An exception that escaped an operation, shown after it has ended (a message box).
  virtual void ShowFailure(const std::string& what) = 0;
};

// Runs the window's commands against the program's state: one at a time, input during an
// operation dropped, the start-up load, Timer1 and the chip and port choices.
class Router {
 public:
  Router(State& state, View& view, Shell& shell);

  // The constructor's part of start-up: the image cleared, and the file loaded when there is one
  // (then Timer1 started).
  void Startup(const std::optional<std::string>& hexFile);
  // Runs one command to its end; does nothing while another one runs.
  void Run(Command command);
  void Timer1Timer();
  bool Busy() const { return busy_; }

  // The present ports for the Interfejs menu below COM1 ... COM5, listed now, as it opens: entry
  // i is chosen by {SelectListedPort, i} until the next listing. A port gone by then is chosen
  // all the same, and the next operation fails to open it.
  const std::vector<PortMenuEntry>& ListPorts();
  // Where the listing looks (tests give a made-up system).
  void SetPortListRoots(PortListRoots roots) { portRoots_ = std::move(roots); }

 private:
  template <typename Fn>
  void Operate(Fn&& operation);

  State& state_;
  View& view_;
  Shell& shell_;
  bool busy_ = false;
  PortListRoots portRoots_;
  std::vector<PortMenuEntry> listedPorts_;
};

}  // namespace zelwik::ui
