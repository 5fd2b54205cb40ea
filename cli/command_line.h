#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/prompt.h"
#include "link/port_list.h"

namespace zelwik::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs zelwik-cli with its arguments (without the program name). Status texts go to out; usage
// errors, port diagnostics and the progress bar (when progressTerminal is set) to err. The port
// list (ports, --port auto) is read under portRoots. --repeat reads Enter or q from the prompt.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   std::ostream* progressTerminal, const PortListRoots& portRoots = {},
                   ChipPrompt* prompt = nullptr);

}  // namespace zelwik::cli
