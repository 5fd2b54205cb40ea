// The prompt on Windows. Ctrl+C makes a console's line read return without a line, and a pipe's
// input ends with its writer, so a plain read is enough and no thread is left waiting on it.
#include <iostream>

#include "cli/interrupt.h"
#include "cli/prompt.h"

namespace zelwik::cli {
namespace {

class ConsolePrompt final : public ChipPrompt {
 public:
  std::optional<std::string> ReadLine() override {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }
};

}  // namespace

namespace detail {
void WakePrompt() {}
}  // namespace detail

std::unique_ptr<ChipPrompt> StandardInputPrompt() { return std::make_unique<ConsolePrompt>(); }

}  // namespace zelwik::cli
