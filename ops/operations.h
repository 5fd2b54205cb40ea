#pragma once

#include <string>

#include "image/memory_image.h"
#include "link/cancel.h"
#include "link/link.h"
#include "ops/texts.h"
#include "ops/view.h"

namespace zelwik {

// The program's shared state: one image, the chosen chip and port, and the link. The window holds
// one; the command line and the tests make their own.
struct State {
  Image image;
  int ChipType = 0;               // 0 = detect at every operation
  std::string PortName = "COM2";  // "COM1".."COM5", or a device path from the command line
  Link link;
  // Requested from another thread (Esc, Ctrl+C); whoever starts an operation resets it first.
  // Every operation hands it to the link.
  CancelToken cancel;
};

// How an operation ended, for callers that must know (the command line's exit status).
enum class OpResult {
  Success,       // ended with its success text
  LinkFailure,   // port not opened, no probe answer, or the link failed mid-way
  NoChip,        // automatic detection found nothing
  TooLarge,      // " Za mało pamięci"
  Mismatch,      // a byte differed (program, verify)
  NotSupported,  // the chip has no such lock bit or signature
  Cancelled,     // stopped on request between two exchanges: " Przerwano."
};

OpResult ProgramChip(State& state, View& view);  // ProgramButtonClick
OpResult ReadChip(State& state, View& view);     // ReadButtonClick
OpResult VerifyChip(State& state, View& view);   // Com21Click

enum class ChipCommand { Erase, Lock1, Lock2, Lock3, LockAll };
OpResult RunChipCommand(State& state, View& view, ChipCommand command);

enum class Signature { Device, Maker, Voltage };
OpResult ShowSignature(State& state, View& view, Signature which);

}  // namespace zelwik
