#include "cli/interrupt.h"

#include <atomic>
#include <cstdlib>

namespace zelwik::cli {
namespace {

// Read by the handlers, so plain atomics: no locks, no allocation.
std::atomic<State*> g_states[InterruptGuard::kMaxStates];
std::atomic<int> g_exitStatus{0};
std::atomic<bool> g_finishChips;  // set by every guard
// Handlers between their first and last touch of a state: the guard waits for none before the
// states may go.
std::atomic<int> g_inHandler{0};

}  // namespace

InterruptGuard::InterruptGuard(const std::vector<State*>& states, First first) {
  g_exitStatus.store(0);
  g_finishChips.store(first == First::FinishChips);
  std::size_t i = 0;
  for (State* state : states)
    if (i < kMaxStates) g_states[i++].store(state);
  detail::InstallInterruptHandlers();
}

InterruptGuard::~InterruptGuard() {
  // The slots first: a late signal then finds nothing, and one already inside is waited for.
  for (auto& slot : g_states) slot.store(nullptr);
  while (g_inHandler.load() != 0) {
  }
  detail::RemoveInterruptHandlers();
}

int InterruptGuard::ExitStatus() const { return g_exitStatus.load(); }
int InterruptGuard::Requested() { return g_exitStatus.load(); }

// Async-signal-safe: atomics, a write to the prompt's wake-up pipe, and the ports' own safe
// restore.
void InterruptGuard::Interrupt(int exitStatus) {
  int none = 0;
  if (g_exitStatus.compare_exchange_strong(none, exitStatus)) {
    detail::WakePrompt();
    if (g_finishChips.load()) return;
    g_inHandler.fetch_add(1);
    for (auto& slot : g_states)
      if (State* state = slot.load()) state->cancel.Request();
    g_inHandler.fetch_sub(1);
    return;
  }
  g_inHandler.fetch_add(1);
  for (auto& slot : g_states)
    if (State* state = slot.load()) state->link.RestoreLineNow();
  std::_Exit(g_exitStatus.load());
}

}  // namespace zelwik::cli
