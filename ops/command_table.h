#pragma once

#include <span>
#include <string_view>

#include "ops/operations.h"

namespace zelwik {

// What a command does with a file.
enum class FileUse {
  None,
  Load,  // the image comes from the file before the chip is touched
  Save,  // the chip's content goes to the file afterwards
};

// Where a command acts: on the chip through the programmer, on a file alone, or on the list of
// serial ports (the last two only on the command line).
enum class Scope { Chip, File, Ports };

// What an operation leaves for its caller beyond its result.
struct OperationOutput {
  int chipSize = 0;  // read: the bytes read, for a raw binary file
};

// One command, as every front end runs it.
struct OperationEntry {
  const char* name;  // the command line's word
  const char* help;  // the usage text's line ("\n" continues it on the next)
  Scope scope;
  FileUse file;
  bool changesChip;  // erases, writes or locks: the only ones a production run repeats
  OpResult (*run)(State& state, View& view, OperationOutput& output);  // Scope::Chip only
};

// Every command, in the order the usage text lists them.
std::span<const OperationEntry> Operations();
const OperationEntry* FindOperation(std::string_view name);

}  // namespace zelwik
