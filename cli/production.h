#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/image_files.h"
#include "cli/prompt.h"
#include "cli/run_log.h"
#include "cli/serial_numbers.h"
#include "image/memory_image.h"
#include "ops/command_table.h"

namespace zelwik::cli {

enum class Repeat {
  Once,
  Prompt,  // the next chip when Enter is pressed
  Auto,    // the next chip when the socket was seen empty and then holds a chip
};

inline constexpr const char* kTextNextChip = "Włóż następny układ i naciśnij Enter, q kończy";

// A command on one or more programmers, once or chip after chip.
struct ProductionJob {
  // What each chip goes through, in order: the command, then a verify pass or a lock bit. A chip
  // passes when every step succeeds; the first that does not ends the chip.
  std::vector<const OperationEntry*> steps;
  std::vector<std::string> ports;  // as OpenLink takes them, none twice
  int chip = 0;
  std::string chipName = "auto";
  std::optional<int> timeoutMs;
  std::string file;
  FileFormat format = FileFormat::Hex;
  const Image* image = nullptr;  // the loaded file, for commands that load one
  Repeat repeat = Repeat::Once;
  std::optional<SerialLayout> serial;  // taken once the chip is seen, just before its erase
  SerialCounter* serials = nullptr;
  RunLog* log = nullptr;
  int pollMs = 250;  // --repeat=auto: the socket's signature, four times a second
};

struct ProductionIo {
  std::ostream& out;
  std::ostream& err;
  std::ostream* progress;  // the terminal for the progress line, or nullptr
  ChipPrompt* prompt;      // --repeat: Enter or q
};

// "ttyUSB1" for /dev/ttyUSB1, "pts/5" for /dev/pts/5, COM3 as it is.
std::string PortShortName(const std::string& port);

// Runs the job on every port at once, each with its own link, on a thread of its own when there
// are several. Lines are prefixed with the port when there are several; several ports or a repeat
// end with a line per port. The exit status: 0 only when every port succeeded on every chip; 130,
// 143 or 129 after Ctrl+C, SIGTERM or SIGHUP, which stop the operations in flight, or with a
// repeat let the chips in hand finish. More ports than InterruptGuard::kMaxStates are refused
// (kExitUsage).
int RunProduction(const ProductionJob& job, ProductionIo& io);

}  // namespace zelwik::cli
