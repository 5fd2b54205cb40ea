#pragma once

#include <vector>

#include "ops/operations.h"

namespace zelwik::cli {

// While one lives, Ctrl+C and SIGTERM (Windows: Ctrl+C and Ctrl+Break) ask the operations of the
// given states to stop after the exchange in flight; a second one puts their lines back as they
// were found and ends the process at once. One guard at a time.
class InterruptGuard {
 public:
  enum class First {
    StopOperations,  // the operations in flight stop between two exchanges
    FinishChips,     // chip after chip: the chips in hand are finished, the caller takes no more
  };
  explicit InterruptGuard(const std::vector<State*>& states, First first = First::StopOperations);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The exit status the interruption asks for (130 after Ctrl+C, 143 after SIGTERM); 0 when
  // nothing asked to stop (SIGHUP: 129).
  int ExitStatus() const;
  // The same, for code that has no guard at hand (the prompt).
  static int Requested();
  // As if the user had pressed Ctrl+C: for tests and for a front end's own stop request.
  static void Interrupt(int exitStatus);

  static constexpr int kMaxStates = 64;
};

namespace detail {
// The platform's half (console_posix.cpp, console_win32.cpp): the handlers that call Interrupt.
// SIGHUP (the terminal closed) counts as SIGTERM does, with its own status, 129.
void InstallInterruptHandlers();
void RemoveInterruptHandlers();
// Ends the wait of a prompt reading standard input (console_posix.cpp, prompt_win32.cpp);
// async-signal-safe.
void WakePrompt();
}  // namespace detail

}  // namespace zelwik::cli
