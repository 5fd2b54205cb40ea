#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/image_files.h"
#include "cli/prompt.h"
#include "production/job_chip.h"

namespace zelwik::cli {

using production::ProductionJob;
using production::Repeat;

inline constexpr const char* kTextNextChip = "Włóż następny układ i naciśnij Enter, q kończy";

struct ProductionIo {
  std::ostream& out;
  std::ostream& err;
  std::ostream* progress;  // the terminal for the progress line, or nullptr
  ChipPrompt* prompt;      // --repeat: Enter or q
};

// "ttyUSB1" for /dev/ttyUSB1, "pts/5" for /dev/pts/5, COM3 as it is.
std::string PortShortName(const std::string& port);

// Runs the job on every port at once, each on its own thread and link. Lines are prefixed with
// the port when there are several; several ports or a repeat end with a line per port. The exit
// status: 0 only when every port succeeded on every chip; 130, 143 or 129 after Ctrl+C, SIGTERM
// or SIGHUP, which stop the operations in flight, or with a repeat let the chips in hand finish.
// More ports than InterruptGuard::kMaxStates are refused (kExitUsage).
int RunProduction(const ProductionJob& job, ProductionIo& io);

}  // namespace zelwik::cli
