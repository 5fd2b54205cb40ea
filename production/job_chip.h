#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/memory_image.h"
#include "image/serial_layout.h"
#include "ops/command_table.h"
#include "ops/file_formats.h"
#include "production/run_log.h"
#include "production/serial_numbers.h"

// One chip through a production job's steps, the same for the command line and the windows: the
// serial number stamped at the erase, one log row per step.
namespace zelwik::production {

enum class Repeat {
  Once,
  Prompt,  // the next chip when Enter is pressed
  Auto,    // the next chip when the socket was seen empty and then holds a chip
};

// What every chip of a run goes through, and on which programmers.
struct ProductionJob {
  // In order; a chip passes when every step succeeds, and the first that does not ends the chip.
  std::vector<const OperationEntry*> steps;
  std::vector<std::string> ports;  // as OpenLink takes them, none twice
  int chip = 0;
  std::string chipName = "auto";
  std::optional<int> timeoutMs;
  std::string file;
  FileFormat format = FileFormat::Hex;
  const Image* image = nullptr;  // the loaded file, for steps that load one
  Repeat repeat = Repeat::Once;
  std::optional<SerialLayout> serial;  // taken once the chip is seen, just before its erase
  SerialCounter* serials = nullptr;
  RunLog* log = nullptr;
  std::string name;  // the job file's name, for the log; empty for a plain command line
  int pollMs = 250;  // Repeat::Auto: the socket's signature, four times a second
  // A read step's file; none given counts as a failed save.
  std::function<bool(Image& image, int chipSize, View& view)> saveRead;
};

// The front end's side of one chip.
struct ChipContext {
  std::string port;                // as the log names it
  std::string detected;            // the chip the socket's signature named, when the job detects it
  std::function<bool()> stopping;  // a stop was asked for; empty: the state's cancel token
  std::function<void()> stepStarts;  // before each step
};

struct ChipOutcome {
  bool passed = false;
  OpResult last = OpResult::Success;  // the last step run
  std::string serial;                 // the number this chip got, if any
  // Set when the port must take no more chips, since a number or a row could not be kept: why.
  std::string retire;
};

// Runs the job's steps on the chip in `state`'s socket: the job's image into the state, its
// serial number taken from the counter once the chip is seen and written into the image before
// the erase, each step's row written to the job's log. The rows' messages are the last status
// each step showed on `view`.
ChipOutcome RunJobChip(const ProductionJob& job, State& state, View& view,
                       const ChipContext& context);

}  // namespace zelwik::production
