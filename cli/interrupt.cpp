#include "cli/interrupt.h"

#include <atomic>
#include <cstdlib>

namespace zelwik::cli {
namespace {

// Read by the handlers, so plain atomics: no locks, no allocation.
std::atomic<State*> g_states[InterruptGuard::kMaxStates];
std::atomic<int> g_exitStatus{0};
std::atomic<bool> g_finishChips{false};

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
  detail::RemoveInterruptHandlers();
  for (auto& slot : g_states) slot.store(nullptr);
}

int InterruptGuard::ExitStatus() const { return g_exitStatus.load(); }

// Async-signal-safe: atomics, and the ports' own safe restore.
void InterruptGuard::Interrupt(int exitStatus) {
  int none = 0;
  if (g_exitStatus.compare_exchange_strong(none, exitStatus)) {
    if (g_finishChips.load()) return;
    for (auto& slot : g_states)
      if (State* state = slot.load()) state->cancel.Request();
    return;
  }
  for (auto& slot : g_states)
    if (State* state = slot.load()) state->link.RestoreLineNow();
  std::_Exit(g_exitStatus.load());
}

}  // namespace zelwik::cli
