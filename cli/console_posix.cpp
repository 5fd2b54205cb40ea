#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "cli/console.h"
#include "cli/interrupt.h"

namespace zelwik::cli {
namespace {

struct sigaction g_savedInt, g_savedTerm;

void OnSignal(int signal) { InterruptGuard::Interrupt(128 + signal); }

}  // namespace

namespace detail {

// SA_RESTART: the output's writes go on; the link's waits retry their poll() for what is left.
void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_savedInt);
  sigaction(SIGTERM, &action, &g_savedTerm);
}

void RemoveInterruptHandlers() {
  sigaction(SIGINT, &g_savedInt, nullptr);
  sigaction(SIGTERM, &g_savedTerm, nullptr);
}

}  // namespace detail

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::ostream* SetUpConsole() { return isatty(STDERR_FILENO) ? &std::cerr : nullptr; }

}  // namespace zelwik::cli
